// The sizes, offsets and marker of an array object, defined here and
// nowhere else. Every header word is a 32-bit int in the file's external
// (big-endian) order:
//
//   OFFSET SIZE           CONTENT
//        0    4           marker 0xFFFAEEEB
//        4    4           flush count: 0 at creation, +1 at each Flush
//        8    4           element type: 1 int, 3 float, 4 double, 6 pooled string
//       12    4           field count: values per row
//       16    rows x row  the rows back to back; row = field count x value width
//                         (4 int and float, 8 double, 8 pooled-string reference)
//
// The row count is not stored: it follows from the space's length.
#ifndef QVT_IMPL_QVT_ARRAYLAYOUT_H
#define QVT_IMPL_QVT_ARRAYLAYOUT_H

#include <climits>

#include "qvt_DatabaseLayout.h"
#include "qvt_Handle.h"

constexpr int qvt_ArrayMarker = static_cast<int>(0xFFFAEEEBu);
constexpr int qvt_ArrayFlushCountOffset = 4;
constexpr int qvt_ArrayTypeOffset = 8;
constexpr int qvt_ArrayFieldCountOffset = 12;
constexpr int qvt_ArrayHeaderBytes = 16;
// The widest value is 8 bytes; a row must fit the int of a transfer.
constexpr int qvt_ArrayMostFields = INT_MAX / 8;

// Width of one stored value; 0 for a type no array holds.
inline int qvt_ArrayValueWidth(int type) {
  switch (type) {
    case qvt_TypeInt:
    case qvt_TypeFloat:
      return 4;
    case qvt_TypeDouble:
      return 8;
    case qvt_TypeString:
      return qvt_ReferenceBytes;
    default:
      return 0;
  }
}

#endif  // QVT_IMPL_QVT_ARRAYLAYOUT_H
