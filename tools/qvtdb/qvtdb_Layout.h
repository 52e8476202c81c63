// The raw view of a database file that the inspection subcommands share:
// the header fields and the object linkage exactly as stored, read through
// the file's own Read (so a compressed file is seen decompressed) and
// decoded by the library's own decoders, which list what does not hold
// instead of refusing it. On top of them this view checks what only a whole
// linkage shows: extents that overlap, chains that loop or are shared, and
// the two pools being sound spaces. Every walk is bounded.
#ifndef QVT_TOOLS_QVTDB_QVTDB_LAYOUT_H
#define QVT_TOOLS_QVTDB_QVTDB_LAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "qvt_DatabaseHeader.h"
#include "qvt_File.h"
#include "qvt_Handle.h"
#include "qvt_Linkage.h"

class qvt_Problems;

class qvtdb_Layout {
 public:
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
  const qvt_DatabaseHeader& Header() const { return m_Header; }
  // False when the header has a problem the library refuses it for (the
  // signature, the version).
  bool HeaderOpenable() const { return m_HeaderOpenable; }

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
  std::vector<qvt_LinkageEntry> Chain(qvt_Handle handle) const;
  std::int64_t SpaceLength(qvt_Handle handle) const;
  // Copies up to count bytes of a listed space from position on; answers
  // how many there were.
  std::int64_t ReadSpace(qvt_Handle handle, std::int64_t position, unsigned char* buffer,
                         std::int64_t count) const;
  // Reads count bytes of the file at offset; answers how many there were.
  std::int64_t ReadFile(std::int64_t offset, unsigned char* buffer, std::int64_t count) const;

 private:
  void ReadHeader();
  // Adds an entry naming a next extent that is not in use.
  void CheckNextExtents(qvt_Problems* problems) const;
  void CheckOverlaps();
  void CheckChains();
  // The entry of a handle in use; nullptr for any other.
  const qvt_LinkageEntry* Entry(qvt_Handle handle) const;
  const qvt_LinkageEntry& Slot(std::size_t handle) const {
    return m_Blocks[handle / qvt_LinkageSlots]->m_Entries[handle % qvt_LinkageSlots];
  }
  void Problem(const std::string& text) { m_Problems.push_back(text); }

  qvt_File m_File;
  bool m_Compressed = false;
  bool m_Remote = false;
  std::int64_t m_FileLength = 0;
  bool m_HasHeader = false;
  bool m_HeaderOpenable = false;
  qvt_DatabaseHeader m_Header;
  qvt_LinkageBlocks m_Blocks;
  std::vector<std::string> m_Problems;
  bool m_LinkageSound = false;
  std::vector<qvt_Handle> m_Spaces;
};

#endif  // QVT_TOOLS_QVTDB_QVTDB_LAYOUT_H
