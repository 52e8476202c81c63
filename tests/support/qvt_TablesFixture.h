// Public databases of a chosen file kind in a scratch folder, for the table,
// row and database suites. Suites derive from DatabaseKindTest and are
// instantiated over the kinds this build can make, so a kind added to
// TestedFileKinds runs every suite.
#ifndef QVT_TESTS_SUPPORT_QVT_TABLESFIXTURE_H
#define QVT_TESTS_SUPPORT_QVT_TABLESFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"

namespace qvt_test {

// Every kind of file this build can create.
std::vector<FileKind> TestedFileKinds();

// For INSTANTIATE_TEST_SUITE_P: the kind's name.
std::string FileKindParamName(const ::testing::TestParamInfo<FileKind>& info);

class DatabaseKindTest : public ::testing::TestWithParam<FileKind> {
 protected:
  DatabaseKindTest() : m_Files(GetParam()) {}

  std::string Path(const std::string& name = "test.odb") const { return m_Files.Path(name); }
  qvt_Database CreateDb(const std::string& name = "test.odb") const;
  qvt_Database OpenDb(const std::string& name = "test.odb", bool readOnly = true) const;

  DatabaseFiles m_Files;
};

// A class of version 1 named name with one field of each type, in this
// order (so with these indices): i int, h handle, f float, d double,
// s string.
qvt_TableMetadata AllFieldTypes(const std::string& name);

// Every byte of a space, read through a fresh space object.
std::vector<unsigned char> SpaceBytes(qvt_Database& db, qvt_Handle handle);

// The file offset of byte offsetInSpace of a space, through the linkage
// (plain local files only, where file offsets are the bytes on disk).
std::int64_t FileOffsetInSpace(qvt_Database& db, qvt_Handle handle, std::int64_t offsetInSpace);

// The pool reference of a string the database already holds.
std::int64_t StringReference(qvt_Database& db, const std::string& text);

// A double stored big-endian at offset.
double BEDoubleAt(const std::vector<unsigned char>& bytes, std::size_t offset);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_TABLESFIXTURE_H
