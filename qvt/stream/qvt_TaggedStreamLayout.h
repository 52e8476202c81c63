// The sizes, offsets and marker of a tagged stream object, defined here and
// nowhere else. Ints are 32-bit, every value in the file's external
// (big-endian) order:
//
//   OFFSET SIZE CONTENT
//        0    4 marker 0xFAAFEBBE
//        4    4 flush count: 0 at creation, +1 at each Flush
//        8    … records back to back
//
// Record:
//
//   OFFSET SIZE    CONTENT
//        0    4    type code (qvt_Type)
//        4    4    identifier
//        8    …    value by type code:
//                    1 int        4  the int
//                    2 handle     8  the 32-bit handle, then 4 zero bytes
//                    3 float      4  the float
//                    4 double     8  the double
//                    6 string     8  pooled-string reference
//                    7 fixed    4+w  int w (text length rounded up to a
//                                    multiple of 4), then w bytes of text
//                                    padded with zeros
#ifndef QVT_IMPL_QVT_TAGGEDSTREAMLAYOUT_H
#define QVT_IMPL_QVT_TAGGEDSTREAMLAYOUT_H

#include "qvt_DatabaseLayout.h"
#include "qvt_Handle.h"

constexpr int qvt_TaggedStreamMarker = static_cast<int>(0xFAAFEBBEu);
constexpr int qvt_TaggedStreamFlushCountOffset = 4;
constexpr int qvt_TaggedStreamHeaderBytes = 8;
constexpr int qvt_TaggedStreamRecordHeadBytes = 8;
constexpr int qvt_TaggedStreamHandleBytes = 8;
constexpr int qvt_TaggedStreamTextWidthBytes = 4;

// Bytes of the value of a record of type behind its head; for a fixed
// string only its width word (the text follows). -1 for a type no record has.
inline int qvt_TaggedStreamValueWidth(int type) {
  switch (type) {
    case qvt_TypeInt:
    case qvt_TypeFloat:
      return 4;
    case qvt_TypeHandle:
      return qvt_TaggedStreamHandleBytes;
    case qvt_TypeDouble:
      return 8;
    case qvt_TypeString:
      return qvt_ReferenceBytes;
    case qvt_TypeFixedString:
      return qvt_TaggedStreamTextWidthBytes;
    default:
      return -1;
  }
}

#endif  // QVT_IMPL_QVT_TAGGEDSTREAMLAYOUT_H
