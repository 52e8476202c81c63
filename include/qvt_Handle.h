// Object handles, type codes and file status answers shared by the public
// classes of the library.
#ifndef QVT_INCLUDE_QVT_HANDLE_H
#define QVT_INCLUDE_QVT_HANDLE_H

#include <cstdint>

// Names one object of a database: linkage block index x 512 + slot. Slot 0
// is never an object, so 0 names nothing. Handles are never reused.
using qvt_Handle = std::uint32_t;

// Type codes of fields, array elements, tagged-stream values and objects.
// Value 5 is not used. The underlying type is fixed to int so that any code
// read from a file, valid or not, can be held and compared before it is
// refused.
enum qvt_Type : int {
  qvt_TypeNone = 0,
  qvt_TypeInt = 1,
  qvt_TypeHandle = 2,
  qvt_TypeFloat = 3,
  qvt_TypeDouble = 4,
  qvt_TypeString = 6,
  qvt_TypeFixedString = 7,
  qvt_TypeTable = 8,
  qvt_TypeTaggedStream = 9,
  qvt_TypeOther = 10
};

// The answer of a status check on a database file.
namespace qvt_FileStatus {
enum QvtFileStatus { Unchanged = 0, Recreated = 1, Updated = 2, CheckFailed = 3, InTransaction = 4 };
}

#endif  // QVT_INCLUDE_QVT_HANDLE_H
