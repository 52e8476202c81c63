// The sizes, offsets and markers of the tables subsystem's on-disk
// structures, defined here and nowhere else: a table object's header and
// rows, and a class record of the metadata pool. Ints are 32-bit in the
// file's external (big-endian) order; a pooled string is a reference of
// qvt_ReferenceBytes (qvt_DatabaseLayout.h).
#ifndef QVT_IMPL_QVT_TABLELAYOUT_H
#define QVT_IMPL_QVT_TABLELAYOUT_H

#include "qvt_DatabaseLayout.h"
#include "qvt_Handle.h"

// Table object:
//
//   OFFSET SIZE           CONTENT
//        0    4           marker 0xAAAFBBBE
//        4    4           flush count (flushes that wrote rows)
//        8    4           low 32 bits of the metadata handle (the class's
//                         record offset in the metadata pool)
//       12    rows x row  the rows; row r at 12 + r x row
//
// A row: the presence bitmap, one bit per present field in 32-bit words,
// then each present field's value in field map order.
constexpr int qvt_TableMarker = static_cast<int>(0xAAAFBBBEu);
constexpr int qvt_TableFlushCountOffset = 4;
constexpr int qvt_TableMetadataOffset = 8;
constexpr int qvt_TableHeaderBytes = 12;

// Bytes of a row's presence bitmap for present fields.
inline int qvt_TableBitmapBytes(int present) { return 4 * ((present + 31) / 32); }

// Bytes a field of type takes in a row, -1 for a type rows cannot hold.
inline int qvt_TableFieldWidth(int type, int referenceWidth) {
  switch (type) {
    case qvt_TypeInt:
    case qvt_TypeFloat:
      return 4;
    case qvt_TypeHandle:
    case qvt_TypeDouble:
      return 8;
    case qvt_TypeString:
      return referenceWidth;
    default:
      return -1;
  }
}

// Class record of the metadata pool, back to back from the pool's first
// record on; w is qvt_ReferenceBytes:
//
//   OFFSET            SIZE  CONTENT
//   0                 4     record length in bytes, this field included:
//                           4 + w + n * (4 + w)
//   4                 w     table class name (pooled string)
//   4 + w + k(4 + w)  4     type of field k (qvt_Type)
//   8 + w + k(4 + w)  w     name of field k (pooled string)
//
// A class's metadata handle is the offset of its record in the pool.
constexpr int qvt_MetadataRecordHeadBytes = 4 + qvt_ReferenceBytes;
constexpr int qvt_MetadataFieldBytes = 4 + qvt_ReferenceBytes;
// Where the name's reference sits in the head and in a field.
constexpr int qvt_MetadataNameOffset = 4;

#endif  // QVT_IMPL_QVT_TABLELAYOUT_H
