// For the qvtdb tests: a sample database holding one object of every kind with known contents, and where a
// space lies in the bytes of a plain file, so that tests can damage a sound file at a chosen place.
#ifndef QVT_TESTS_SUPPORT_QVT_TOOLSAMPLEDATABASE_H
#define QVT_TESTS_SUPPORT_QVT_TOOLSAMPLEDATABASE_H

#include <cstdint>
#include <string>
#include <vector>

#include "qvt_Handle.h"

namespace qvt_test {

struct SampleDatabase {
  std::string path;
  qvt_Handle table = 0;        // class "samples": d double, f float, h handle, i int, s string; 5 rows
  qvt_Handle emptyTable = 0;   // class "empty": one int field, no rows
  qvt_Handle intArray = 0;     // 2 per row, 3 rows: 1 2 / 3 4 / 5 6
  qvt_Handle floatArray = 0;   // 1 per row: 0.5, 1.25
  qvt_Handle doubleArray = 0;  // 3 per row, 1 row: 1e-300 2.5 -3
  qvt_Handle stringArray = 0;  // 2 per row: "alpha" "beta" / "" "gamma, delta"
  qvt_Handle stream = 0;       // records of all six types
  qvt_Handle space = 0;        // the raw bytes "hello space\0\x01\xff"
  std::vector<qvt_Handle> All() const {
    return {table, emptyTable, intArray, floatArray, doubleArray, stringArray, stream, space};
  }
};

// Writes the sample database into path and closes it.
SampleDatabase WriteSampleDatabase(const std::string& path, bool compressed);

// The handles of the extents of a space, head first.
std::vector<qvt_Handle> ExtentChain(const std::vector<unsigned char>& bytes, qvt_Handle handle);
// The file offset of the byte at spaceOffset of the space of handle.
std::size_t FileOffsetOf(const std::vector<unsigned char>& bytes, qvt_Handle handle,
                         std::int64_t spaceOffset);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_TOOLSAMPLEDATABASE_H
