// Every message text of the typed arrays in one place. %d is filled by
// position through atr_Format.
#ifndef QVT_IMPL_QVT_ARRAYMESSAGES_H
#define QVT_IMPL_QVT_ARRAYMESSAGES_H

namespace qvt_ArrayMessages {

// Opening an array object.
constexpr const char* kCorrupt =
    "qvt_ArrayRepr::qvt_ArrayRepr: Array object in ODB/CAE file is corrupt.  File may be unusable.";
constexpr const char* kNotAnArray =
    "qvt_ArrayRepr::qvt_ArrayRepr: Handle is not to an Array object in ODB/CAE file.  File may be unusable.";
// Creating one: a row must hold at least one value (%d is the count given).
constexpr const char* kBadFieldCount =
    "qvt_ArrayRepr::qvt_ArrayRepr: Invalid field count %d; a row holds 1 to 268435455 values.";

constexpr const char* kIllegalType = "qvt_ArrayRepr::RowSize - illegal array type.";
constexpr const char* kTruncateReadOnly = "***ERROR: Attempt to truncate read only array.";
constexpr const char* kAppendReadOnly = "qvt_ArrayRepr::Append - Attempt to append to read only array.";
// A row index below 0 would reach into the 16-byte header (%d is the row).
constexpr const char* kBadRow = "qvt_ArrayRepr::Seek - Invalid row index %d.";
constexpr const char* kBadTruncate = "qvt_ArrayRepr::Truncate - Invalid row count %d.";
// rowCount x field count values do not fit one transfer (%d is rowCount).
constexpr const char* kTooManyRows = "qvt_ArrayRepr: Row count %d is too large for one transfer.";

// Copying an array object between databases.
constexpr const char* kCopyReadFailed1 =
    "qvt_ArrayRepr::CreateCopy: Array read failed. (1)  File may be unusable.";
constexpr const char* kCopyReadFailed2 =
    "qvt_ArrayRepr::CreateCopy: Array read failed. (2)  File may be unusable.";
constexpr const char* kCopyNotAnArray =
    "qvt_ArrayRepr::CreateCopy: Handle is not to an Array object in ODB/CAE file.  File may be unusable.";
// The assertion text: string references belong to one pool.
constexpr const char* kCopyStringArray = "data != qvt_TypeString";

// The checks of Read and Write, as assertion texts.
constexpr const char* kNullData = "data != NULL";
constexpr const char* kNoRows = "rowCount > 0";

}  // namespace qvt_ArrayMessages

#endif  // QVT_IMPL_QVT_ARRAYMESSAGES_H
