// Every message text of the compressed-file layers (sector container,
// segment table, segments, codec, encoded file) and the helper that raises
// a damaged-file failure with the source location.
#ifndef QVT_IMPL_QVT_ENCODEDMESSAGES_H
#define QVT_IMPL_QVT_ENCODEDMESSAGES_H

#include "atr_translate.h"
#include "nex_Exception.h"

namespace qvt_EncodedMessages {

// A segment that zlib cannot restore.
constexpr char kDatabaseCorrupt[] = "***ERROR: CAE database is corrupt.";

// A container or segment table whose own structure is damaged: the class
// and operation, the file name, then one of the details below.
constexpr char kFileCorrupt[] = "%1$s - Compressed file '%2$s' is corrupt: %3$s.";

constexpr char kNoWholeSector[] = "it holds no whole sector";
constexpr char kUserHeaderSize[] = "user header size %d does not fit in the header sector";
constexpr char kDirectoryLength[] = "directory length %d does not fit in the file";
constexpr char kSectorCutShort[] = "sector %d is cut short";
constexpr char kBadLink[] = "sector %d links to sector %d, which is not a later sector of the file";
constexpr char kEntryOutside[] = "entry %d starts at sector %d, outside the file";
constexpr char kEntryLength[] = "entry %d has stored length %d, more than its sectors can hold";
constexpr char kSegmentSize[] = "segment size %d is not between 1 and 1048576";
constexpr char kSegmentCount[] = "%d segments with a last length of %d";
constexpr char kSegmentLength[] = "segment %d has stored length %d, more than a segment can take";

// Bad arguments to the encoded file's byte operations.
constexpr char kReadMethod[] = "qvt_FileReprEncoded::Read";
constexpr char kWriteMethod[] = "qvt_FileReprEncoded::Write";
constexpr char kExtendMethod[] = "qvt_FileReprEncoded::ExtendFile";
constexpr char kSeekMethod[] = "qvt_FileReprEncoded::Seek";

// Reported on standard error when closing a file fails inside a destructor.
constexpr char kCloseFailed[] = "*** WARNING: Closing compressed file '%1$s' failed: %2$s\n";

}  // namespace qvt_EncodedMessages

// Raises nex_TextException for a damaged compressed file; where names the
// class and operation, detail is a formatted detail text from above.
[[noreturn]] void qvt_RaiseEncodedCorrupt(const char* sourceFile, int sourceLine, const char* where,
                                          const cow_String& fileName, const cow_String& detail);

#define QVT_ENCODED_CORRUPT(where, fileName, detail) \
  qvt_RaiseEncodedCorrupt(__FILE__, __LINE__, where, fileName, detail)

#endif  // QVT_IMPL_QVT_ENCODEDMESSAGES_H
