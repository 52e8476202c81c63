// Every message text of the remote subsystem, and the protocol constants
// shared by the remote file and the assistant program.
#ifndef QVT_REMOTE_QVT_REMOTEMESSAGES_H
#define QVT_REMOTE_QVT_REMOTEMESSAGES_H

#include <cstdint>

namespace qvt_RemoteText {
const char kInvalidReadLength[] = "qvt_FileReprRemote::Read: Invalid length when reading file.";
const char kNoRelay[] = "Cannot locate tqnfel executable";
const char kNoAssistant[] = "Cannot locate qvtT_FileAssistant.exe executable";
const char kCannotTell[] = "Can't be determined";
const char kReasonFormat[] = "%s";
const char kCacheWarning[] =
    "The Network ODB file being opened is over five times the size of the Network ODB cache file. "
    "Performance may be degraded. If this is not acceptable, please relocate the temporary file directory "
    "to a location that has more free space.";
const char kNoAnswer[] = "No answer from the assistant within %d seconds";
const char kPasswordTooLong[] = "The password is longer than 255 bytes";
const char kBadStatus[] = "The assistant sent the unknown status %d";
const char kBadInvalidations[] = "The assistant listed %d changed pages; this file holds at most %d";
const char kBadPageBytes[] = "The assistant sent a page of %d bytes; a page holds 0 to %d";
const char kBadFileSize[] = "The assistant reported the impossible file size %s";
const char kCloseWarning[] = "*** WARNING: Closing remote file %s: %s\n";
const char kKilledWarning[] =
    "*** WARNING: The assistant of remote file %s did not stop when asked and was killed.\n";
}  // namespace qvt_RemoteText

// The pipe protocol, little-endian (EndianType 0). Every reply begins with
// the head: acknowledgement (1 byte), status (1 signed byte), and for
// status 2 a 32-bit count k and k 64-bit offsets of pages that changed.
namespace qvt_RemoteProtocol {
constexpr unsigned char kSizeRequest = 1;    // reply: file size, 64-bit
constexpr unsigned char kPageRequest = 2;    // d (16-bit), d dropped offsets, offset, page size
                                             // (32-bit); reply: m (32-bit), m bytes
constexpr unsigned char kStatusRequest = 3;  // reply: the head alone
constexpr std::int16_t kHandshakeWord = 1;   // this build's protocol version
constexpr int kMaxDroppedPerRequest = 32767;
constexpr std::int64_t kMaxFileSize = std::int64_t(1) << 50;  // beyond any database file
}  // namespace qvt_RemoteProtocol

#endif  // QVT_REMOTE_QVT_REMOTEMESSAGES_H
