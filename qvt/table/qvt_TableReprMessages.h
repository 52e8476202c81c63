// Message texts of the tables subsystem (table metadata, tables, rows), kept
// in one place. Each is formatted by position with atr_Format and raised as
// a nex_TextException through QVT_TABLE_THROW, which records file and line.
#ifndef QVT_IMPL_QVT_TABLEREPRMESSAGES_H
#define QVT_IMPL_QVT_TABLEREPRMESSAGES_H

#include "atr_translate.h"
#include "nex_Exception.h"

namespace qvt_TableMsg {
// Table metadata.
constexpr const char* kDuplicateField = "***ERROR: Duplicate field metadata definition: \"%s\"";
constexpr const char* kMergeTypeMismatch = "***ERROR: Field type mismatch: %s";
constexpr const char* kNoFieldByIndex = "***ERROR: Can't find field by index: %d";
constexpr const char* kTypeMismatchByIndex = "***ERROR: Field type mismatch by index: %d";
constexpr const char* kNoFieldByName = "***ERROR: Can't find field: \"%s\"";
constexpr const char* kTypeMismatchByName = "***ERROR: Field type mismatch: \"%s\"";
constexpr const char* kMetadataCorrupt = "***ERROR: Metadata is corrupt in KELVOR database file.";

// Tables.
constexpr const char* kTableFormatCorrupt =
    "qvt_TableRepr::qvt_TableRepr: KELVOR Database table format is corrupt. This may indicate a corrupt "
    "database, or it may indicate that the analysis code preprocessor is still writing the database. \n If "
    "you suspect the latter possibility, please attempt to reopen the database when the preprocessor is "
    "complete.";
constexpr const char* kNotATable =
    "qvt_TableRepr::qvt_TableRepr: Handle is not to a table object. This is not a valid KELVOR database.";
constexpr const char* kInvalidFieldType =
    "qvt_TableRepr::Setup: An invalid field type for field '%s' has been specified for table '%s'.";
constexpr const char* kReadRowMissing =
    "qvt_TableRepr::ReadRow - Row does not exist for table '%s', index: %d, len: %d";
constexpr const char* kUpdateRowMissing =
    "qvt_TableRepr::UpdateRow - Row does not exist for table '%s', index: %d, len: %d";
constexpr const char* kTruncateReadOnly = "***ERROR: Attempt to truncate read only table.";
constexpr const char* kAppendReadOnly = "qvt_TableRepr::Append - Attempt to append to read only table.";
constexpr const char* kAppendIncompatible =
    "qvt_TableRepr::Append - table being appended to \"%s\" does not have compatible metadata.";
constexpr const char* kAppendInvalidType =
    "qvt_TableRepr::Append: An invalid field type has been specified for table '%s'.";
constexpr const char* kReadOnly =
    "The output database was opened as read-only. Modification of data is not permitted.";
constexpr const char* kNoStoredFields =
    "qvt_TableRepr::NewRow - Table '%s' has no stored fields and holds no rows.";
constexpr const char* kBadTruncate = "qvt_TableRepr::Truncate - Invalid row count %d for table '%s'.";
constexpr const char* kTableTooLarge =
    "qvt_TableRepr::qvt_TableRepr: Table '%s' holds more rows than a table can address.";

// Rows.
constexpr const char* kAbsentFieldData =
    "qvt_RowImpl::PrepReadField: Attempt to access absent field data in ODB/CAE file (%1$s:%2$s). File may "
    "be unreadable.";
constexpr const char* kAbsentField =
    "qvt_RowImpl::PrepWriteField: Attempt to access absent field in ODB/CAE file (%1$s:%2$s).File may be "
    "corrupt.";
constexpr const char* kCopyHandleField = "qvt_RowImpl::CopyField: Attempt to copy handle type field..  No can do.";
constexpr const char* kNoRow = "qvt_Row: The row handle does not refer to a row.";
constexpr const char* kRowGone =
    "qvt_Row: The row no longer exists in table '%s': it was truncated away or its table was closed.";
}  // namespace qvt_TableMsg

#define QVT_TABLE_THROW(...) NEX_THROW_TEXT(atr_Format(__VA_ARGS__))

#endif  // QVT_IMPL_QVT_TABLEREPRMESSAGES_H
