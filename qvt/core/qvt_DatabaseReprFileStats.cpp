// Read-only diagnostics of a database file: the extent count of one
// object, six lines on the file as a whole, and which object holds a given
// file offset. They sit on the linkage in memory and the two pools.
#include "qvt_DatabaseReprFile.h"

#include <cstdint>
#include <cstdio>

#include "qvt_DatabaseRepr.h"

namespace {

const char kLocationNotSupported[] = "Object location report not supported for this qvt database type.";
const char kObjectNotFound[] = "Object not found.";

// Formats one line with the C library's printf rules (%20.0lf, %08x).
template <class... Args>
cow_String FormatLine(const char* format, Args... args) {
  char line[128];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n < 0) return cow_String();
  return cow_String(line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1);
}

}  // namespace

cow_String qvt_DatabaseRepr::GetObjectLocationReport(const utl_FileOffset& offset) {
  (void)offset;
  return kLocationNotSupported;
}

cow_1DArrayList<cow_String> qvt_DatabaseReprFile::GetObjStatistics(const qvt_Handle& handle) {
  cow_1DArrayList<cow_String> lines;
  if (!IsValidHandle(handle)) return lines;
  // Every extent visited counts, the head included; NextInChain refuses a
  // chain that loops.
  std::int64_t steps = 0;
  int count = 0;
  for (qvt_Handle h = handle; h != 0; h = NextInChain(h, &steps)) ++count;
  lines.push_back(FormatLine("Linkage_Count=%d", count));
  return lines;
}

cow_1DArrayList<cow_String> qvt_DatabaseReprFile::GetDBStatistics() {
  cow_1DArrayList<cow_String> lines;
  lines.push_back(FormatLine("Block 0 Size (bytes)=%d", static_cast<int>(kHeaderBytes)));
  lines.push_back(FormatLine("Total Linkage Usage (bytes)=%20.0lf",
                             static_cast<double>(LinkageBlockCount()) * qvt_LinkageBlockBytes));
  lines.push_back(
      FormatLine("Metadata Pool Size (bytes)=%20.0lf", static_cast<double>(MetadataPoolSize())));
  lines.push_back(
      FormatLine("String Pool Size (bytes)=%20.0lf", static_cast<double>(m_StringPool.KnownEnd())));
  lines.push_back(FormatLine("String Pool Count (number of strings)=%d", m_StringPool.StringCount()));
  const cow_1DArrayList<cow_String> pool = GetObjStatistics(qvt_StringPoolHandle);
  lines.push_back(FormatLine("String Pool %s", pool.empty() ? "" : pool.front().c_str()));
  return lines;
}

void qvt_DatabaseReprFile::MarkHeads() {
  // Every handed-out entry that holds something is flagged, then every entry
  // some other entry names as its next is unflagged. What stays flagged
  // starts a chain. Entry 0 links blocks, never a head.
  const int blockCount = LinkageBlockCount();
  for (int b = 0; b < blockCount; ++b) {
    qvt_LinkageBlock& block = LinkageBlockAt(b);
    for (int slot = 0; slot < qvt_LinkageSlots; ++slot) {
      qvt_LinkageEntry& entry = block.m_Entries[slot];
      entry.m_Flag = (slot >= 1 && slot < block.m_Used && entry.m_Location != qvt_LocationFree) ? 1 : 0;
    }
  }
  for (int b = 0; b < blockCount; ++b) {
    qvt_LinkageBlock& block = LinkageBlockAt(b);
    for (int slot = 1; slot < block.m_Used; ++slot) {
      const qvt_LinkageEntry& entry = block.m_Entries[slot];
      if (entry.m_Location != qvt_LocationFree && entry.m_Next != 0) LinkageEntry(entry.m_Next).m_Flag = 0;
    }
  }
}

std::vector<qvt_Handle> qvt_DatabaseReprFile::ObjectHandles() {
  MarkHeads();
  std::vector<qvt_Handle> heads;
  const int blockCount = LinkageBlockCount();
  for (int b = 0; b < blockCount; ++b) {
    const qvt_LinkageBlock& block = LinkageBlockAt(b);
    for (int slot = 1; slot < block.m_Used; ++slot) {
      if (block.m_Entries[slot].m_Flag) heads.push_back(qvt_MakeHandle(static_cast<std::uint32_t>(b), slot));
    }
  }
  return heads;
}

cow_String qvt_DatabaseReprFile::GetObjectLocationReport(const utl_FileOffset& offset) {
  // 1. Mark the heads of the chains.
  MarkHeads();
  const int blockCount = LinkageBlockCount();

  // 2. Walk each chain from its head, counting the bytes its extents hold
  //    before the one that holds offset. Reserved room beyond an extent's
  //    length belongs to nobody yet.
  for (int b = 0; b < blockCount; ++b) {
    qvt_LinkageBlock& block = LinkageBlockAt(b);
    for (int slot = 1; slot < block.m_Used; ++slot) {
      if (!block.m_Entries[slot].m_Flag) continue;
      const qvt_Handle head = qvt_MakeHandle(static_cast<std::uint32_t>(b), slot);
      utl_FileOffset p = 0;
      std::int64_t steps = 0;
      for (qvt_Handle h = head; h != 0; h = NextInChain(h, &steps)) {
        const qvt_LinkageEntry& extent = LinkageEntry(h);
        if (extent.m_Location == qvt_LocationFree) continue;
        if (extent.m_Location <= offset && offset < extent.m_Location + extent.m_Length) {
          return FormatLine("Object: %08x - Offset: %20.0lf", static_cast<unsigned int>(head),
                            static_cast<double>(offset - extent.m_Location + p));
        }
        p += extent.m_Length;
      }
    }
  }
  return kObjectNotFound;
}
