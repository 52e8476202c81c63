// Reading the header and the object linkage of a database file through the
// library's decoders, and checking what only the whole linkage shows, so
// that damage is described rather than merely refused.
#include "qvtdb_Layout.h"

#include <algorithm>

#include "qvt_FileRepr.h"
#include "qvt_FileReprEncoded.h"
#include "qvt_Problems.h"
#include "utl_UrlParser.h"

namespace {

constexpr int kMostOverlapsListed = 20;

// An entry that holds no whole quantities is reported by the decoder and
// counts as no extent here.
bool InUse(const qvt_LinkageEntry& e) { return e.m_Decoded && e.m_Location != qvt_LocationFree; }

std::string Handle(qvt_Handle handle) { return "handle " + std::to_string(handle); }

std::string Range(std::int64_t start, std::int64_t bytes) {
  return "offsets " + std::to_string(start) + " to " + std::to_string(start + bytes - 1);
}

}  // namespace

qvtdb_Layout::qvtdb_Layout(const qvt_File& file) : m_File(file) {
  m_Remote = utl_UrlParser::IsUrl(file.FileName());
  m_Compressed = !m_Remote && qvt_FileReprEncoded::IsCompressedFile(file.FileName());
  m_FileLength = m_File.Repr()->Length();
  ReadHeader();
  if (!m_HasHeader) return;
  qvt_Problems problems;
  m_LinkageSound = qvt_ReadLinkage(*m_File.Repr(), m_FileLength, &m_Blocks, &problems);
  for (const auto& block : m_Blocks) {
    for (const qvt_LinkageEntry& entry : block->m_Entries) m_LinkageSound = m_LinkageSound && entry.m_Decoded;
  }
  CheckNextExtents(&problems);
  // The chain of blocks first, then the entries in handle order, each
  // entry's own problems before those of its next extent.
  std::vector<qvt_Problem> listed = problems.List();
  std::stable_sort(listed.begin(), listed.end(),
                   [](const qvt_Problem& a, const qvt_Problem& b) { return a.handle < b.handle; });
  for (const qvt_Problem& problem : listed) Problem(problem.text);
  CheckOverlaps();
  CheckChains();
}

std::int64_t qvtdb_Layout::ReadFile(std::int64_t offset, unsigned char* buffer, std::int64_t count) const {
  if (offset < 0 || offset >= m_FileLength || count <= 0) return 0;
  count = std::min(count, m_FileLength - offset);
  qvt_FileRepr* repr = m_File.Repr();
  repr->Seek(offset);
  std::int64_t done = 0;
  while (done < count) {
    const int step = static_cast<int>(std::min<std::int64_t>(count - done, 1 << 20));
    const int n = repr->Read(reinterpret_cast<char*>(buffer + done), step);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

void qvtdb_Layout::ReadHeader() {
  unsigned char bytes[qvt_FileLayout::kHeaderBytes];
  const int got = static_cast<int>(ReadFile(0, bytes, qvt_FileLayout::kHeaderBytes));
  qvt_Problems problems;
  m_Header = qvt_DatabaseHeader::Decode(bytes, got, m_File.FileName(), cow_String(), &problems);
  m_HasHeader = m_Header.complete;
  m_HeaderOpenable = !problems.Refused();
  // Of a header cut short only that is told: the rest was judged on bytes
  // that are not there.
  if (!m_HasHeader) return Problem(problems.List().back().text);
  for (const qvt_Problem& problem : problems.List()) Problem(problem.text);
  qvt_Problems sizeRecord;
  m_File.Repr()->SizeRecordProblems(qvt_FileLayout::kSizeRecordOffset, &sizeRecord);
  for (const qvt_Problem& problem : sizeRecord.List()) Problem(problem.text);
}

const qvt_LinkageEntry* qvtdb_Layout::Entry(qvt_Handle handle) const {
  const std::size_t block = handle / qvt_LinkageSlots;
  const std::size_t slot = handle % qvt_LinkageSlots;
  if (slot == 0 || block >= m_Blocks.size()) return nullptr;
  const qvt_LinkageEntry& e = m_Blocks[block]->m_Entries[slot];
  return InUse(e) ? &e : nullptr;
}

void qvtdb_Layout::CheckNextExtents(qvt_Problems* problems) const {
  for (std::size_t i = 0; i < m_Blocks.size() * qvt_LinkageSlots; ++i) {
    const qvt_LinkageEntry& e = Slot(i);
    if (i % qvt_LinkageSlots == 0 || !InUse(e)) continue;
    if (e.m_Next != 0 && Entry(e.m_Next) == nullptr) {
      const qvt_Handle handle = static_cast<qvt_Handle>(i);
      problems->Add(Handle(handle) + ": its next extent, " + Handle(e.m_Next) + ", is not in use",
                    cow_String(), handle);
    }
  }
}

void qvtdb_Layout::CheckOverlaps() {
  struct Region {
    std::int64_t start, end;
    std::string what;
  };
  std::vector<Region> regions;
  regions.push_back({0, qvt_FileLayout::kHeaderBytes, "the header"});
  for (std::size_t b = 0; b < m_Blocks.size(); ++b) {
    const utl_FileOffset offset = m_Blocks[b]->m_FileOffset;
    regions.push_back({offset, offset + qvt_LinkageBlockBytes, "linkage block " + std::to_string(b)});
    for (int slot = 1; slot < qvt_LinkageSlots; ++slot) {
      const qvt_LinkageEntry& e = m_Blocks[b]->m_Entries[slot];
      if (!e.m_Decoded || e.m_Location < qvt_LocationPlaced || e.m_Allocation <= 0) continue;
      regions.push_back({e.m_Location, e.m_Location + e.m_Allocation,
                         "the extent of " + Handle(qvt_MakeHandle(static_cast<std::uint32_t>(b), slot))});
    }
  }
  std::stable_sort(regions.begin(), regions.end(),
                   [](const Region& a, const Region& b) { return a.start < b.start; });
  std::size_t widest = 0;  // the region reaching furthest so far
  int found = 0;
  for (std::size_t i = 1; i < regions.size(); ++i) {
    if (regions[i].start < regions[widest].end) {
      if (found < kMostOverlapsListed) {
        Problem(regions[i].what + " (" + Range(regions[i].start, regions[i].end - regions[i].start) + ") overlaps " +
                regions[widest].what);
      }
      ++found;
      m_LinkageSound = false;
    }
    if (regions[i].end > regions[widest].end) widest = i;
  }
  if (found > kMostOverlapsListed) {
    Problem("and " + std::to_string(found - kMostOverlapsListed) + " more overlapping regions");
  }
}

void qvtdb_Layout::CheckChains() {
  const std::size_t total = m_Blocks.size() * qvt_LinkageSlots;
  std::vector<int> pointedAt(total, 0);
  for (std::size_t i = 0; i < total; ++i) {
    if (i % qvt_LinkageSlots == 0) continue;
    const qvt_LinkageEntry& e = Slot(i);
    if (InUse(e) && e.m_Next != 0 && Entry(e.m_Next) != nullptr) ++pointedAt[e.m_Next];
  }
  // Walk every chain from its head; an extent met twice in one walk means a
  // loop, one met by an earlier walk an extent two spaces share.
  std::vector<std::size_t> reached(total, 0);  // 1 + the head that reached it
  for (std::size_t i = 0; i < total; ++i) {
    if (i % qvt_LinkageSlots == 0 || pointedAt[i] != 0) continue;
    if (!InUse(Slot(i))) continue;
    const qvt_Handle handle = static_cast<qvt_Handle>(i);
    bool sound = true;
    qvt_Handle at = handle;
    while (at != 0) {
      const qvt_LinkageEntry* e = Entry(at);
      if (e == nullptr) {
        sound = false;  // reported with the entries
        break;
      }
      if (reached[at] == i + 1) {
        Problem("the extent chain of " + Handle(handle) + " loops back to " + Handle(at));
        sound = false;
        break;
      }
      if (reached[at] != 0) {
        Problem(Handle(at) + " is an extent of both " + Handle(static_cast<qvt_Handle>(reached[at] - 1)) + " and " +
                Handle(handle));
        sound = false;
        break;
      }
      reached[at] = i + 1;
      // What the library's decoder reported about the entry leaves the
      // chain unsound: no whole quantity, bytes beyond the allocation or
      // the file, a place inside the header, bytes without a place.
      const bool placed = e->m_Location >= qvt_LocationPlaced;
      if (!e->m_Decoded || e->m_Length > e->m_Allocation ||
          (placed && e->m_Location + e->m_Allocation > m_FileLength) ||
          (!placed && e->m_Location != qvt_LocationTaken) ||
          (e->m_Location == qvt_LocationTaken && (e->m_Length || e->m_Allocation))) {
        sound = false;
      }
      at = e->m_Next;
    }
    if (sound) {
      m_Spaces.push_back(handle);
    } else {
      m_LinkageSound = false;
    }
  }
  std::string orphans;
  int orphanCount = 0;
  for (std::size_t i = 0; i < total; ++i) {
    if (i % qvt_LinkageSlots == 0 || reached[i] || !InUse(Slot(i))) continue;
    if (orphanCount < 8) orphans += (orphanCount ? ", " : "") + std::to_string(i);
    ++orphanCount;
  }
  if (orphanCount > 0) {
    Problem("handles " + orphans + (orphanCount > 8 ? ", ..." : "") +
            " are extents that no space starts: their chain loops without a head");
    m_LinkageSound = false;
  }
  for (qvt_Handle fixed : {qvt_StringPoolHandle, qvt_MetadataPoolHandle}) {
    if (!IsSpace(fixed)) {
      Problem(std::string(fixed == qvt_StringPoolHandle ? "the string pool" : "the metadata pool") + " (" +
              Handle(fixed) + ") is not a sound space of the linkage");
      m_LinkageSound = false;
    }
  }
}

bool qvtdb_Layout::IsSpace(qvt_Handle handle) const {
  return std::binary_search(m_Spaces.begin(), m_Spaces.end(), handle);
}

std::vector<qvt_LinkageEntry> qvtdb_Layout::Chain(qvt_Handle handle) const {
  std::vector<qvt_LinkageEntry> chain;
  if (!IsSpace(handle)) return chain;
  for (qvt_Handle at = handle; at != 0;) {
    const qvt_LinkageEntry* e = Entry(at);
    chain.push_back(*e);
    at = e->m_Next;
  }
  return chain;
}

std::int64_t qvtdb_Layout::SpaceLength(qvt_Handle handle) const {
  std::int64_t length = 0;
  for (const qvt_LinkageEntry& e : Chain(handle)) length += e.m_Length;
  return length;
}

std::int64_t qvtdb_Layout::ReadSpace(qvt_Handle handle, std::int64_t position, unsigned char* buffer,
                                     std::int64_t count) const {
  std::int64_t done = 0;
  std::int64_t start = 0;  // space offset of the extent in hand
  for (const qvt_LinkageEntry& e : Chain(handle)) {
    if (done >= count) break;
    const std::int64_t end = start + e.m_Length;
    const std::int64_t from = position + done;
    if (from < end && e.m_Length > 0) {
      const std::int64_t take = std::min(count - done, end - from);
      const std::int64_t got = ReadFile(e.m_Location + (from - start), buffer + done, take);
      done += got;
      if (got < take) break;
    }
    start = end;
  }
  return done;
}
