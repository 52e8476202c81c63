// Reading and checking the header and the object linkage of a database file
// without the library's database layer, so that damage is described rather
// than merely refused.
#include "qvtdb_Layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "omi_Swapper.h"
#include "qvt_FileRepr.h"
#include "qvt_FileReprEncoded.h"
#include "utl_UrlParser.h"

namespace {

constexpr double kLargestQuantity = 9007199254740992.0;  // 2^53
constexpr int kMostOverlapsListed = 20;

std::int32_t Int32At(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }

// A 64-bit file quantity stored as a big-endian double holding a whole
// number: false when it is not finite, negative or too large.
bool QuantityAt(const unsigned char* p, std::int64_t* value) {
  const std::uint64_t bits = omi_Bytes::GetBE64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  if (!std::isfinite(d) || d < 0 || d >= kLargestQuantity) return false;
  *value = static_cast<std::int64_t>(d + 0.5);
  return true;
}

// A zero-padded text of a fixed width: up to its first zero byte.
std::string FixedText(const unsigned char* p, std::size_t width) {
  return std::string(p, std::find(p, p + width, 0));
}

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
  ReadLinkage();
  CheckEntries();
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
  unsigned char bytes[kHeaderBytes];
  if (ReadFile(0, bytes, kHeaderBytes) < kHeaderBytes) {
    Problem("the file is " + std::to_string(m_FileLength) + " bytes long, too short for the " +
            std::to_string(kHeaderBytes) + "-byte header");
    return;
  }
  m_HasHeader = true;
  m_Header.signature.assign(reinterpret_cast<const char*>(bytes), 4);
  m_Header.typeCode = FixedText(bytes + 4, 4);
  m_Header.version = Int32At(bytes + 8);
  m_Header.description = FixedText(bytes + 12, 484);
  m_Header.reserved = Int32At(bytes + 496);
  std::memcpy(m_Header.sizeMarker, bytes + 500, 4);
  const std::uint64_t sizeBits = omi_Bytes::GetBE64(bytes + 504);
  std::memcpy(&m_Header.sizeValue, &sizeBits, sizeof m_Header.sizeValue);
  m_Header.flushCount = Int32At(bytes + 512);
  m_Header.creationTime = Int32At(bytes + 516);

  if (std::memcmp(bytes, "WOXDFM", 6) == 0) {
    Problem("the header is that of an old database format (\"WOXDFM\")");
  } else if (m_Header.signature != "WOXR") {
    Problem("the header does not start with the signature \"WOXR\"");
  }
  if (m_Header.version < 11) {
    Problem("the header's version is " + std::to_string(m_Header.version) + ", below the oldest readable, 11");
  }
  if (m_Header.reserved != 0) {
    Problem("the header's reserved word at offset 496 holds " + std::to_string(m_Header.reserved) +
            " instead of 0");
  }
  if (m_Header.flushCount < 0) {
    Problem("the header's flush count is negative (" + std::to_string(m_Header.flushCount) + ")");
  }
  // A compressed file keeps its own length; its size record is not used.
  if (!m_Compressed) {
    const double d = m_Header.sizeValue;
    const bool zeroMarker = std::memcmp(m_Header.sizeMarker, "\0\0\0\0", 4) == 0;
    const bool textMarker = std::memcmp(m_Header.sizeMarker, "\x0a\x00\x0d\x0a", 4) == 0;
    if (!std::isfinite(d) || d < 0 || d >= kLargestQuantity) {
      Problem("the size record at offset 500 does not hold a file size");
    } else if (static_cast<std::int64_t>(d + 0.5) != 0) {
      const std::int64_t recorded = static_cast<std::int64_t>(d + 0.5);
      if (recorded != m_FileLength) {
        Problem("the size record says the file is " + std::to_string(recorded) + " bytes long, but it is " +
                std::to_string(m_FileLength) + " (truncated, extended, or copied in text mode)");
      }
    } else if (!zeroMarker && !textMarker) {
      Problem("the size record at offset 500 has an unknown marker");
    }
  }
}

void qvtdb_Layout::ReadLinkage() {
  std::set<std::int64_t> seen;
  std::vector<unsigned char> bytes(kBlockBytes);
  std::int64_t offset = kHeaderBytes;
  m_LinkageSound = true;
  while (offset != 0) {
    const int index = static_cast<int>(m_Blocks.size());
    const std::string name = "linkage block " + std::to_string(index);
    if (offset < kHeaderBytes || offset > m_FileLength - kBlockBytes) {
      Problem(name + " at offset " + std::to_string(offset) + " lies outside the file (" +
              std::to_string(m_FileLength) + " bytes)");
      m_LinkageSound = false;
      return;
    }
    if (!seen.insert(offset).second) {
      Problem("the chain of linkage blocks loops: " + name + " would be the block at offset " +
              std::to_string(offset) + " again");
      m_LinkageSound = false;
      return;
    }
    if (index >= (1 << 23)) {
      Problem("the linkage has more blocks than handles can name");
      m_LinkageSound = false;
      return;
    }
    if (ReadFile(offset, bytes.data(), kBlockBytes) != kBlockBytes) {
      Problem(name + " at offset " + std::to_string(offset) + " cannot be read whole");
      m_LinkageSound = false;
      return;
    }
    qvtdb_Block block;
    block.offset = offset;
    block.entries.resize(kSlots);
    for (int slot = 0; slot < kSlots; ++slot) {
      const unsigned char* p = bytes.data() + slot * kEntryBytes;
      qvtdb_Entry& e = block.entries[static_cast<std::size_t>(slot)];
      e.decoded = QuantityAt(p, &e.allocation) && QuantityAt(p + 8, &e.length) && QuantityAt(p + 16, &e.location);
      e.next = omi_Bytes::GetBE32(p + 24);
    }
    const qvtdb_Entry link = block.entries[0];
    m_Blocks.push_back(std::move(block));
    if (!link.decoded) {
      Problem(name + " does not hold a valid offset for the next block");
      m_LinkageSound = false;
      return;
    }
    if (link.location != 0 && link.next != static_cast<qvt_Handle>(index + 1) * kSlots) {
      Problem(name + " links to the next block as handle " + std::to_string(link.next) + " instead of " +
              std::to_string((index + 1) * kSlots));
    }
    offset = link.location;
  }
}

const qvtdb_Entry* qvtdb_Layout::Entry(qvt_Handle handle) const {
  const std::size_t block = handle / kSlots;
  const std::size_t slot = handle % kSlots;
  if (slot == 0 || block >= m_Blocks.size()) return nullptr;
  const qvtdb_Entry& e = m_Blocks[block].entries[slot];
  return e.location == 0 ? nullptr : &e;
}

void qvtdb_Layout::CheckEntries() {
  for (std::size_t b = 0; b < m_Blocks.size(); ++b) {
    int firstFree = 0;
    for (int slot = 1; slot < kSlots; ++slot) {
      const qvtdb_Entry& e = m_Blocks[b].entries[static_cast<std::size_t>(slot)];
      const qvt_Handle handle = static_cast<qvt_Handle>(b * kSlots + static_cast<std::size_t>(slot));
      const std::string name = Handle(handle);
      if (!e.decoded) {
        Problem(name + ": its linkage entry holds a size or offset that is not a whole file quantity");
        m_LinkageSound = false;
        continue;
      }
      if (e.location == 0) {
        if (e.allocation != 0 || e.length != 0 || e.next != 0) {
          Problem(name + ": its linkage entry is marked free but holds an extent");
        }
        if (firstFree == 0) firstFree = slot;
        continue;
      }
      if (firstFree != 0) {
        Problem(name + " is in use after the free " + Handle(static_cast<qvt_Handle>(b * kSlots) + firstFree) +
                ", which a writer would hand out again");
      }
      if (e.location == 1) {
        if (e.allocation != 0 || e.length != 0) Problem(name + " claims bytes but has no place in the file");
      } else if (e.location < kHeaderBytes) {
        Problem(name + ": its extent is placed at offset " + std::to_string(e.location) + ", inside the header");
      } else if (e.location + e.allocation > m_FileLength) {
        Problem(name + ": its extent at " + Range(e.location, e.allocation) + " runs past the end of the file (" +
                std::to_string(m_FileLength) + " bytes)");
      }
      if (e.length > e.allocation) {
        Problem(name + ": its extent uses " + std::to_string(e.length) + " bytes of only " +
                std::to_string(e.allocation) + " reserved");
      }
      if (e.next != 0 && Entry(e.next) == nullptr) {
        Problem(name + ": its next extent, " + Handle(e.next) + ", is not in use");
      }
    }
  }
}

void qvtdb_Layout::CheckOverlaps() {
  struct Region {
    std::int64_t start, end;
    std::string what;
  };
  std::vector<Region> regions;
  regions.push_back({0, kHeaderBytes, "the header"});
  for (std::size_t b = 0; b < m_Blocks.size(); ++b) {
    regions.push_back({m_Blocks[b].offset, m_Blocks[b].offset + kBlockBytes, "linkage block " + std::to_string(b)});
    for (int slot = 1; slot < kSlots; ++slot) {
      const qvtdb_Entry& e = m_Blocks[b].entries[static_cast<std::size_t>(slot)];
      if (!e.decoded || e.location < kHeaderBytes || e.allocation <= 0) continue;
      regions.push_back({e.location, e.location + e.allocation,
                         "the extent of " + Handle(static_cast<qvt_Handle>(b * kSlots) + static_cast<qvt_Handle>(slot))});
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
  const std::size_t total = m_Blocks.size() * kSlots;
  std::vector<int> pointedAt(total, 0);
  for (std::size_t i = 0; i < total; ++i) {
    if (i % kSlots == 0) continue;
    const qvtdb_Entry& e = m_Blocks[i / kSlots].entries[i % kSlots];
    if (e.location != 0 && e.next != 0 && Entry(e.next) != nullptr) ++pointedAt[e.next];
  }
  // Walk every chain from its head; an extent met twice in one walk means a
  // loop, one met by an earlier walk an extent two spaces share.
  std::vector<std::size_t> reached(total, 0);  // 1 + the head that reached it
  for (std::size_t i = 0; i < total; ++i) {
    if (i % kSlots == 0 || pointedAt[i] != 0) continue;
    const qvtdb_Entry& head = m_Blocks[i / kSlots].entries[i % kSlots];
    if (head.location == 0) continue;
    const qvt_Handle handle = static_cast<qvt_Handle>(i);
    bool sound = true;
    qvt_Handle at = handle;
    while (at != 0) {
      const qvtdb_Entry* e = Entry(at);
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
      if (!e->decoded || e->length > e->allocation ||
          (e->location >= kHeaderBytes && e->location + e->allocation > m_FileLength) ||
          (e->location > 1 && e->location < kHeaderBytes) || (e->location == 1 && (e->length || e->allocation))) {
        sound = false;
      }
      at = e->next;
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
    if (i % kSlots == 0 || reached[i]) continue;
    if (m_Blocks[i / kSlots].entries[i % kSlots].location == 0) continue;
    if (orphanCount < 8) orphans += (orphanCount ? ", " : "") + std::to_string(i);
    ++orphanCount;
  }
  if (orphanCount > 0) {
    Problem("handles " + orphans + (orphanCount > 8 ? ", ..." : "") +
            " are extents that no space starts: their chain loops without a head");
    m_LinkageSound = false;
  }
  for (qvt_Handle fixed : {qvt_Handle(1), qvt_Handle(3)}) {
    if (!IsSpace(fixed)) {
      Problem(std::string(fixed == 1 ? "the string pool" : "the metadata pool") + " (" + Handle(fixed) +
              ") is not a sound space of the linkage");
      m_LinkageSound = false;
    }
  }
}

bool qvtdb_Layout::IsSpace(qvt_Handle handle) const {
  return std::binary_search(m_Spaces.begin(), m_Spaces.end(), handle);
}

std::vector<qvtdb_Entry> qvtdb_Layout::Chain(qvt_Handle handle) const {
  std::vector<qvtdb_Entry> chain;
  if (!IsSpace(handle)) return chain;
  for (qvt_Handle at = handle; at != 0;) {
    const qvtdb_Entry* e = Entry(at);
    chain.push_back(*e);
    at = e->next;
  }
  return chain;
}

std::int64_t qvtdb_Layout::SpaceLength(qvt_Handle handle) const {
  std::int64_t length = 0;
  for (const qvtdb_Entry& e : Chain(handle)) length += e.length;
  return length;
}

std::int64_t qvtdb_Layout::ReadSpace(qvt_Handle handle, std::int64_t position, unsigned char* buffer,
                                     std::int64_t count) const {
  std::int64_t done = 0;
  std::int64_t start = 0;  // space offset of the extent in hand
  for (const qvtdb_Entry& e : Chain(handle)) {
    if (done >= count) break;
    const std::int64_t end = start + e.length;
    const std::int64_t from = position + done;
    if (from < end && e.length > 0) {
      const std::int64_t take = std::min(count - done, end - from);
      const std::int64_t got = ReadFile(e.location + (from - start), buffer + done, take);
      done += got;
      if (got < take) break;
    }
    start = end;
  }
  return done;
}
