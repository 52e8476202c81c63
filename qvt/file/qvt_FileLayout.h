// The fixed header at the start of every database file: the one place its
// sizes and offsets are defined. It lives in the file layer, the lowest one
// that reads it: the status check takes the flush count and creation time
// from it and the local file keeps its size record in it; the database core
// reads and writes the rest (qvt_DatabaseHeader).
#ifndef QVT_IMPL_QVT_FILELAYOUT_H
#define QVT_IMPL_QVT_FILELAYOUT_H

// Every int 32-bit big-endian:
//
//   OFFSET SIZE CONTENT
//        0    4 signature "WOXR" (the old format starts with "WOXDFM")
//        4    4 type code: up to 4 characters, zero padded
//        8    4 version (12 written, 11 and above read)
//       12  484 description, zero padded
//      496    4 reserved word, 0
//      500   12 size record: 4-byte marker, then the allocation as a double
//      512    4 flush count
//      516    4 creation time
//      520  504 zero
namespace qvt_FileLayout {

constexpr int kHeaderBytes = 1024;

// 64-bit file quantities (the size record, linkage extents, string
// references) are stored as doubles holding a whole number; 2^53 is the
// largest one a double holds exactly, and nothing sound is larger.
constexpr double kLargestQuantity = 9007199254740992.0;

constexpr char kSignature[] = "WOXR";
constexpr int kSignatureBytes = 4;
constexpr char kOldSignature[] = "WOXDFM";
constexpr int kOldSignatureBytes = 6;
constexpr int kTypeCodeOffset = 4;
constexpr int kTypeCodeWidth = 4;
constexpr int kVersionOffset = 8;
constexpr int kVersion = 12;
constexpr int kOldestVersion = 11;
constexpr int kDescriptionOffset = 12;
constexpr int kDescriptionWidth = 484;
constexpr int kReservedOffset = 496;
constexpr int kSizeRecordOffset = 500;
constexpr int kFlushCountOffset = 512;
constexpr int kCreationTimeOffset = 516;

// The size record: a marker, written as zeros, then the allocation. A file
// copied in text mode turns the zero marker into the text one; a record
// that names no size is accepted with either.
constexpr int kSizeRecordBytes = 12;
constexpr int kSizeValueOffset = 4;
constexpr unsigned char kSizeMarkerWritten[4] = {0x00, 0x00, 0x00, 0x00};
constexpr unsigned char kSizeMarkerText[4] = {0x0A, 0x00, 0x0D, 0x0A};

}  // namespace qvt_FileLayout

#endif  // QVT_IMPL_QVT_FILELAYOUT_H
