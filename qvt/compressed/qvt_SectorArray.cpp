// The sector container: header, chained directory and entries.
#include "qvt_SectorArray.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "omi_Swapper.h"
#include "qvt_EncodedMessages.h"

namespace {
constexpr int kWordsOffset = 8;  // version, user header size, entry count
constexpr int kWordsSize = 12;
constexpr int kWordSize = 4;

// The directory's words follow the user header in sector 0 and go on in
// whole continuation sectors. Calls piece(sector, position, first entry,
// words, k) for each sector's run of k > 0 words (words has room for k), and
// next(sector) to move along the chain; answers the entries left when next
// answered the null sector before all were visited.
template <class Piece, class Next>
int WalkDirectory(qvt_Sector sector, int position, int entryCount, Piece piece, Next next) {
  std::vector<unsigned char> words;
  int entry = 0;
  int remaining = entryCount;
  while (!sector.IsNull()) {
    const int k = std::min((sector.DataSize() - position) / kWordSize, remaining);
    if (k > 0) {
      words.resize(static_cast<std::size_t>(k) * kWordSize);
      piece(sector, position, entry, words.data(), k);
    }
    entry += k;
    remaining -= k;
    if (remaining == 0) break;
    sector = next(sector);
    position = 0;
  }
  return remaining;
}
}  // namespace

qvt_SectorArray::qvt_SectorArray(const cow_String& path, int access) : qvt_SectorFile(path, kSectorSize, access) {
  ReadHeader();
  ReadDirectory();
}

qvt_SectorArray::qvt_SectorArray(const cow_String& path, int userHeaderSize, CreateTag)
    : qvt_SectorFile(path, kSectorSize, utl_FileAccessCreate), m_UserHeaderSize(userHeaderSize) {
  NEX_ASSERT(userHeaderSize >= 0 && userHeaderSize <= kSectorSize - qvt_Sector::kLinkSize - kHeaderSize);
  const qvt_Sector header = AllocateSector();
  NEX_ASSERT(header.Index() == 0);
}

void qvt_SectorArray::ReadHeader() {
  char magic[kMagicSize];
  int cnt = HeaderSector().Read(magic, kMagicSize, 0);
  NEX_ASSERT_MSG(cnt == kMagicSize, "cnt == sizeof(magic)");
  NEX_ASSERT_MSG(std::memcmp(magic, kMagic, kMagicSize) == 0, "strncmp( magic, MAGIC, sizeof(magic) ) == 0");
  unsigned char tmp[kWordsSize] = {};
  cnt = HeaderSector().Read(reinterpret_cast<char*>(tmp), kWordsSize, kWordsOffset);
  NEX_ASSERT_MSG(cnt == kWordsSize, "cnt == sizeof(tmp)");
  NEX_ASSERT_MSG(omi_Bytes::GetLE32(tmp) == kCurrentVersion, "tmp[HEADER_VERSION] == CURRENT_VERSION");
  const std::uint32_t userHeaderSize = omi_Bytes::GetLE32(tmp + 4);
  const std::uint32_t entryCount = omi_Bytes::GetLE32(tmp + 8);

  // Everything below is used to size memory and to walk the file, so it is
  // checked against what the file can hold before it is trusted.
  if (UsedSectors() == 0) QVT_ENCODED_CORRUPT("qvt_SectorArray::Open", Name(), qvt_EncodedMessages::kNoWholeSector);
  const std::uint32_t dataSize = kSectorSize - qvt_Sector::kLinkSize;
  if (userHeaderSize > dataSize - kHeaderSize)
    QVT_ENCODED_CORRUPT("qvt_SectorArray::Open", Name(),
                        atr_Format(qvt_EncodedMessages::kUserHeaderSize, static_cast<std::int64_t>(userHeaderSize)));
  const std::uint64_t capacity = (dataSize - kHeaderSize - userHeaderSize) / kWordSize +
                                 static_cast<std::uint64_t>(UsedSectors() - 1) * (dataSize / kWordSize);
  if (entryCount > capacity || entryCount > static_cast<std::uint32_t>(INT_MAX))
    QVT_ENCODED_CORRUPT("qvt_SectorArray::Open", Name(),
                        atr_Format(qvt_EncodedMessages::kDirectoryLength, static_cast<std::int64_t>(entryCount)));
  m_UserHeaderSize = static_cast<int>(userHeaderSize);
  m_EntryCount = static_cast<int>(entryCount);
}

void qvt_SectorArray::WriteHeader() {
  int cnt = HeaderSector().Write(kMagic, kMagicSize, 0);
  NEX_ASSERT_MSG(cnt == kMagicSize, "cnt == sizeof(magic) - 1");
  unsigned char tmp[kWordsSize];
  omi_Bytes::PutLE32(tmp, kCurrentVersion);
  omi_Bytes::PutLE32(tmp + 4, static_cast<std::uint32_t>(m_UserHeaderSize));
  omi_Bytes::PutLE32(tmp + 8, static_cast<std::uint32_t>(m_EntryCount));
  cnt = HeaderSector().Write(reinterpret_cast<const char*>(tmp), kWordsSize, kWordsOffset);
  NEX_ASSERT_MSG(cnt == kWordsSize, "cnt == sizeof(tmp)");
}

void qvt_SectorArray::ReadDirectory() {
  if (m_EntryCount == 0) return;
  const int remaining = WalkDirectory(
      HeaderSector(), kHeaderSize + m_UserHeaderSize, m_EntryCount,
      [this](const qvt_Sector& sector, int position, int entry, unsigned char* words, int k) {
        if (sector.Read(reinterpret_cast<char*>(words), k * kWordSize, position) != k * kWordSize)
          QVT_ENCODED_CORRUPT(
              "qvt_SectorArray::Open", Name(),
              atr_Format(qvt_EncodedMessages::kSectorCutShort, static_cast<std::int64_t>(sector.Index())));
        for (int j = 0; j < k; ++j) {
          const std::uint32_t first = omi_Bytes::GetLE32(words + static_cast<std::size_t>(j) * kWordSize);
          if (first == 0) continue;
          // Sector 0 holds the header, so no entry can start there; 0 is
          // free to mark an absent entry.
          if (first >= UsedSectors())
            QVT_ENCODED_CORRUPT(
                "qvt_SectorArray::Open", Name(),
                atr_Format(qvt_EncodedMessages::kEntryOutside, entry + j, static_cast<std::int64_t>(first)));
          m_Directory.resize(static_cast<std::size_t>(entry + j) + 1, 0);
          m_Directory[static_cast<std::size_t>(entry + j)] = first;
        }
      },
      [](const qvt_Sector& sector) { return sector.Next(); });
  NEX_ASSERT(remaining == 0);
}

void qvt_SectorArray::WriteDirectory() {
  if (m_EntryCount == 0) return;
  WalkDirectory(
      HeaderSector(), kHeaderSize + m_UserHeaderSize, m_EntryCount,
      [this](const qvt_Sector& sector, int position, int entry, unsigned char* words, int k) {
        for (int j = 0; j < k; ++j) {
          const std::size_t cell = static_cast<std::size_t>(entry + j);
          omi_Bytes::PutLE32(words + static_cast<std::size_t>(j) * kWordSize,
                             cell < m_Directory.size() ? m_Directory[cell] : 0);
        }
        const int written = sector.Write(reinterpret_cast<const char*>(words), k * kWordSize, position);
        NEX_ASSERT(written == k * kWordSize);
      },
      // Continuation sectors of an earlier flush are reused; new ones are
      // linked only when the directory has outgrown them.
      [](const qvt_Sector& sector) { return sector.NextOrAllocate(); });
}

int qvt_SectorArray::ReadUserHeader(char* buffer, int length) {
  return HeaderSector().Read(buffer, std::min(length, m_UserHeaderSize), kHeaderSize);
}

int qvt_SectorArray::WriteUserHeader(const char* buffer, int length) {
  return HeaderSector().Write(buffer, std::min(length, m_UserHeaderSize), kHeaderSize);
}

bool qvt_SectorArray::HasEntry(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < m_Directory.size() &&
         m_Directory[static_cast<std::size_t>(index)] != 0;
}

qvt_SectorReader qvt_SectorArray::OpenEntry(int index) {
  NEX_ASSERT_MSG(HasEntry(index), "cell && *cell");
  const qvt_Sector first(m_Directory[static_cast<std::size_t>(index)], this);
  unsigned char word[kWordSize];
  if (first.Read(reinterpret_cast<char*>(word), kWordSize, 0) != kWordSize)
    QVT_ENCODED_CORRUPT("qvt_SectorArray::OpenEntry", Name(),
                        atr_Format(qvt_EncodedMessages::kSectorCutShort, static_cast<std::int64_t>(first.Index())));
  const std::uint32_t count = omi_Bytes::GetLE32(word);
  // Links only point forward, so the chain has at most the sectors from its
  // first to the end of the file.
  const std::uint64_t room = static_cast<std::uint64_t>(UsedSectors() - first.Index()) * first.DataSize();
  if (count < kWordSize || count > room)
    QVT_ENCODED_CORRUPT("qvt_SectorArray::OpenEntry", Name(),
                        atr_Format(qvt_EncodedMessages::kEntryLength, index, static_cast<std::int64_t>(count)));
  return qvt_SectorReader(first, count);
}

qvt_SectorWriter qvt_SectorArray::CreateEntry(int index) {
  NEX_ASSERT(index >= 0);
  if (HasEntry(index)) return qvt_SectorWriter(qvt_Sector(m_Directory[static_cast<std::size_t>(index)], this));
  const qvt_Sector first = AllocateSector();
  if (static_cast<std::size_t>(index) >= m_Directory.size()) m_Directory.resize(static_cast<std::size_t>(index) + 1, 0);
  m_Directory[static_cast<std::size_t>(index)] = first.Index();
  if (index >= m_EntryCount) m_EntryCount = index + 1;
  return qvt_SectorWriter(first);
}

void qvt_SectorArray::Flush() {
  WriteHeader();
  WriteDirectory();
  Commit();
}
