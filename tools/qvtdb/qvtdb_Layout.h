// The raw view of a database file that the inspection subcommands share:
// the header fields and the object linkage exactly as stored, read through
// the file's own Read (so a compressed file is seen decompressed). Nothing
// read is trusted: every quantity is checked against its bounds before it is
// used, every walk is bounded, and what does not hold is listed as a
// problem instead of being followed.
#ifndef QVT_TOOLS_QVTDB_QVTDB_LAYOUT_H
#define QVT_TOOLS_QVTDB_QVTDB_LAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "qvt_File.h"
#include "qvt_Handle.h"

// Header fields, every int big-endian:
//
//   OFFSET SIZE CONTENT
//        0    4 signature "WOXR"
//        4    4 type code, zero padded
//        8    4 version
//       12  484 description, zero padded
//      496    4 reserved word
//      500   12 size record: 4-byte marker, allocation as a double
//      512    4 flush count
//      516    4 creation time
struct qvtdb_Header {
  std::string signature;
  std::string typeCode;
  std::int32_t version = 0;
  std::string description;
  std::int32_t reserved = 0;
  unsigned char sizeMarker[4] = {0, 0, 0, 0};
  double sizeValue = 0;
  std::int32_t flushCount = 0;
  std::int32_t creationTime = 0;
};

// One linkage entry as stored: an extent of a space.
struct qvtdb_Entry {
  std::int64_t allocation = 0;
  std::int64_t length = 0;
  std::int64_t location = 0;  // 0 free, 1 taken without an extent, else a file offset
  qvt_Handle next = 0;
  bool decoded = true;  // every quantity was a whole number within the file's range
};

struct qvtdb_Block {
  std::int64_t offset = 0;
  std::vector<qvtdb_Entry> entries;  // 512, entry 0 the link to the next block
};

class qvtdb_Layout {
 public:
  static constexpr int kHeaderBytes = 1024;
  static constexpr int kSlots = 512;
  static constexpr int kEntryBytes = 28;
  static constexpr int kBlockBytes = kSlots * kEntryBytes;

  // Reads the header and the linkage of an open file. Problems found are
  // kept, never thrown; what the file itself throws (a damaged compressed
  // container) passes to the caller.
  explicit qvtdb_Layout(const qvt_File& file);

  bool Compressed() const { return m_Compressed; }
  // A URL: read through the remote file's assistant, which serves a
  // compressed file as its decoded database.
  bool Remote() const { return m_Remote; }
  // "remote", "compressed" or "plain".
  const char* KindName() const { return m_Remote ? "remote" : m_Compressed ? "compressed" : "plain"; }
  std::int64_t FileLength() const { return m_FileLength; }
  // False when the file is too short to hold a header.
  bool HasHeader() const { return m_HasHeader; }
  const qvtdb_Header& Header() const { return m_Header; }
  const std::vector<qvtdb_Block>& Blocks() const { return m_Blocks; }

  // Problems of the header, the linkage and the placement of extents.
  const std::vector<std::string>& Problems() const { return m_Problems; }
  // True when the linkage could be read whole and every chain is sound.
  bool LinkageSound() const { return m_LinkageSound; }

  // Every space: the head of an extent chain, in ascending handle order.
  // Only spaces whose chain is sound (no loop, every extent inside the
  // file) are listed; the others are among the problems.
  const std::vector<qvt_Handle>& Spaces() const { return m_Spaces; }
  bool IsSpace(qvt_Handle handle) const;
  // The extents of a listed space, head first; empty for any other handle.
  std::vector<qvtdb_Entry> Chain(qvt_Handle handle) const;
  std::int64_t SpaceLength(qvt_Handle handle) const;
  // Copies up to count bytes of a listed space from position on; answers
  // how many there were.
  std::int64_t ReadSpace(qvt_Handle handle, std::int64_t position, unsigned char* buffer,
                         std::int64_t count) const;
  // Reads count bytes of the file at offset; answers how many there were.
  std::int64_t ReadFile(std::int64_t offset, unsigned char* buffer, std::int64_t count) const;

 private:
  void ReadHeader();
  void ReadLinkage();
  void CheckEntries();
  void CheckOverlaps();
  void CheckChains();
  const qvtdb_Entry* Entry(qvt_Handle handle) const;
  void Problem(const std::string& text) { m_Problems.push_back(text); }

  qvt_File m_File;
  bool m_Compressed = false;
  bool m_Remote = false;
  std::int64_t m_FileLength = 0;
  bool m_HasHeader = false;
  qvtdb_Header m_Header;
  std::vector<qvtdb_Block> m_Blocks;
  std::vector<std::string> m_Problems;
  bool m_LinkageSound = false;
  std::vector<qvt_Handle> m_Spaces;
};

#endif  // QVT_TOOLS_QVTDB_QVTDB_LAYOUT_H
