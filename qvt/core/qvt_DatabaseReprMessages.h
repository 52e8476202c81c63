// Every message text of the database core (header, linkage, spaces, string
// pool) in one place. %s and %d are filled by position through atr_Format.
#ifndef QVT_IMPL_QVT_DATABASEREPRMESSAGES_H
#define QVT_IMPL_QVT_DATABASEREPRMESSAGES_H

namespace qvt_CoreMessages {

// Opening a database; %s is the file's name.
constexpr const char* kOldFormat =
    "***ERROR: \"%s\"\nis an old format KELVOR database file.\n"
    "database files generated with an KELVOR analysis \nversion prior to 6.1-1 cannot be opened with \n"
    "the current version of Kelvor/Viewer. \nPlease rerun the analysis using the current \n"
    "KELVOR analysis version.";
constexpr const char* kNotADatabase = "***ERROR: \"%s\"  is not an KELVOR database file.";
constexpr const char* kWrongMagic = "***ERROR: Incorrect magic number in file: \"%s\"  .";
// The version found, then the version written.
constexpr const char* kWrongVersion = "***ERROR: Wrong KELVOR database file version, %d;  Expected version %d.";
constexpr const char* kStringSpaceMisplaced = "***ERROR: String space object is not where it belongs.";
constexpr const char* kMetadataMisplaced = "***ERROR: Metadata table object is not where it belongs.";
// Creating a database over bytes already in a file would destroy them.
constexpr const char* kCreateNotEmpty = "***ERROR: A database can only be created in an empty file: \"%s\".";

// The linkage; %s is the file's name.
constexpr const char* kCorrupt = "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  %s";
constexpr const char* kInvalidDatabase =
    "***ERROR: Database is not valid. This may indicate that the database has been corrupted.";

// Spaces; %f is the offset asked for.
constexpr const char* kInvalidSeek =
    "***ERROR: Invalid seek offset: %f.  This is usually caused by depletion of free space on the "
    "filesystem on which the ODB file is being built.";
constexpr const char* kReadOnly =
    "The output database was opened as read-only. Modification of data is not permitted.";
constexpr const char* kBadExtend = "qvt_SpaceReprFile::Extend: Invalid file extend increment specified.";
constexpr const char* kBadWriteBuffer = "***ERROR: Invalid data buffer pointer when writing space.";
constexpr const char* kBadWriteLength = "***ERROR: Invalid length when writing space.";
constexpr const char* kBadReadBuffer = "***ERROR: Invalid data buffer pointer when reading space.";
constexpr const char* kBadReadLength = "***ERROR: Invalid length when reading space.";
constexpr const char* kWriteFailed = "***ERROR: Write operation failed.";

// The string pool.
constexpr const char* kStringNotAvailable = "qvt_StringManagerFile::String - String is not available.";
// %d is the offset of the first record that could not be read.
constexpr const char* kStringPoolDamaged =
    "qvt_StringManagerFile::String - String pool is damaged from offset %d.";
constexpr const char* kNeuterDamaged = "qvt_StringManagerFile::NeuterString - String record is damaged.";

}  // namespace qvt_CoreMessages

#endif  // QVT_IMPL_QVT_DATABASEREPRMESSAGES_H
