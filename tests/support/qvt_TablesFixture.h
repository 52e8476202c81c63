// Public databases of every file kind in a scratch folder, for the suites of the public objects.
#ifndef QVT_TESTS_SUPPORT_QVT_TABLESFIXTURE_H
#define QVT_TESTS_SUPPORT_QVT_TABLESFIXTURE_H

#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"  // with the standard headers and GoogleTest

namespace qvt_test {

class DatabaseKindTest : public KindTest {
 protected:
  qvt_Database CreateDb(const std::string& name = "test.odb") const;
  qvt_Database OpenDb(const std::string& name = "test.odb", bool readOnly = true) const;
};

// A class of version 1 with one field of each type, in this order (so with
// these indices): i int, h handle, f float, d double, s string.
qvt_TableMetadata AllFieldTypes(const std::string& name);

// Every byte of a space, read through a fresh space object.
std::vector<unsigned char> SpaceBytes(qvt_Database& db, qvt_Handle handle);

// The pool reference of a string the database already holds.
std::int64_t StringReference(qvt_Database& db, const std::string& text);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_TABLESFIXTURE_H
