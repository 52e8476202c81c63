// Sectors, and the reader and writer of an entry's sector chain.
#include "qvt_Sector.h"

#include <algorithm>
#include <cstring>

#include "omi_Swapper.h"
#include "qvt_EncodedMessages.h"
#include "qvt_SectorFile.h"

namespace {
// Sectors fetched in one transfer by a reader at most (64 KiB).
constexpr int kMaxRunSectors = 16;
}  // namespace

int qvt_Sector::DataSize() const {
  NEX_ASSERT(m_File);
  return m_File->SectorSize() - kLinkSize;
}

int qvt_Sector::Read(char* buffer, int length, int position) const {
  NEX_ASSERT(!IsNull());
  return m_File->ReadAt(static_cast<std::int64_t>(m_Index) * m_File->SectorSize() + position, buffer, length);
}

int qvt_Sector::Write(const char* buffer, int length, int position) const {
  NEX_ASSERT(!IsNull());
  return m_File->WriteAt(static_cast<std::int64_t>(m_Index) * m_File->SectorSize() + position, buffer, length);
}

void qvt_Sector::SetNext(std::uint32_t index) const {
  NEX_ASSERT(!IsNull());
  unsigned char word[kLinkSize];
  omi_Bytes::PutLE32(word, index);
  Write(reinterpret_cast<const char*>(word), kLinkSize, DataSize());
}

std::uint32_t qvt_Sector::ReadLink() const {
  unsigned char word[kLinkSize];
  if (Read(reinterpret_cast<char*>(word), kLinkSize, DataSize()) != kLinkSize)
    QVT_ENCODED_CORRUPT("qvt_Sector::Next", m_File->Name(),
                        atr_Format(qvt_EncodedMessages::kSectorCutShort, static_cast<std::int64_t>(m_Index)));
  return omi_Bytes::GetLE32(word);
}

qvt_Sector qvt_Sector::Follow(std::uint32_t link) const {
  if (link == kNullIndex) return qvt_Sector(kNullIndex, m_File);
  if (link <= m_Index || link >= m_File->UsedSectors())
    QVT_ENCODED_CORRUPT("qvt_Sector::Next", m_File->Name(),
                        atr_Format(qvt_EncodedMessages::kBadLink, static_cast<std::int64_t>(m_Index),
                                   static_cast<std::int64_t>(link)));
  return qvt_Sector(link, m_File);
}

qvt_Sector qvt_Sector::Next() const {
  if (IsNull()) return *this;
  return Follow(ReadLink());
}

qvt_Sector qvt_Sector::NextOrAllocate() const {
  NEX_ASSERT(!IsNull());
  const qvt_Sector next = Follow(ReadLink());
  if (!next.IsNull()) return next;
  const qvt_Sector fresh = m_File->AllocateSector();
  SetNext(fresh.Index());
  return fresh;
}

qvt_SectorReader::qvt_SectorReader(const qvt_Sector& first, std::uint32_t storedCount)
    : m_Current(first), m_Position(4), m_StoredCount(storedCount) {}

const char* qvt_SectorReader::Fetch(int wanted) {
  qvt_SectorFile* file = m_Current.File();
  const int sectorSize = file->SectorSize();
  const std::uint32_t index = m_Current.Index();
  if (m_RunCount > 0 && index >= m_RunFirst && index - m_RunFirst < m_RunCount)
    return m_Run.data() + static_cast<std::size_t>(index - m_RunFirst) * sectorSize;
  // Chains are usually laid out in consecutive sectors, so the sectors after
  // this one are fetched in the same transfer as long as the request needs
  // them and the file has them.
  const std::uint32_t available = file->UsedSectors() - index;
  const int count = static_cast<int>(std::min<std::uint32_t>(
      available, static_cast<std::uint32_t>(std::clamp(wanted, 1, kMaxRunSectors))));
  m_Run.resize(static_cast<std::size_t>(count) * sectorSize);
  const int got = m_Current.Read(m_Run.data(), count * sectorSize, 0);
  m_RunFirst = index;
  m_RunCount = static_cast<std::uint32_t>(got / sectorSize);
  if (m_RunCount == 0)
    QVT_ENCODED_CORRUPT("qvt_SectorReader::Read", file->Name(),
                        atr_Format(qvt_EncodedMessages::kSectorCutShort, static_cast<std::int64_t>(index)));
  return m_Run.data();
}

int qvt_SectorReader::Read(char* buffer, int length) {
  int done = 0;
  while (done < length && !m_Current.IsNull()) {
    const int dataSize = m_Current.DataSize();
    const int remaining = length - done;
    const int wanted = (m_Position + remaining + dataSize - 1) / dataSize;
    const char* image = Fetch(wanted);
    if (m_Position >= dataSize) {
      m_Current = m_Current.Follow(omi_Bytes::GetLE32(reinterpret_cast<const unsigned char*>(image) + dataSize));
      m_Position = 0;
      continue;
    }
    const int n = std::min(dataSize - m_Position, remaining);
    std::memcpy(buffer + done, image + m_Position, static_cast<std::size_t>(n));
    done += n;
    m_Position += n;
  }
  return done;
}

qvt_SectorWriter::qvt_SectorWriter(const qvt_Sector& first) : m_First(first), m_Current(first) {}

void qvt_SectorWriter::Write(const char* buffer, int length) {
  int done = 0;
  while (done < length) {
    const int dataSize = m_Current.DataSize();
    if (m_Position >= dataSize) {
      m_Current = m_Current.NextOrAllocate();
      m_Position = 0;
    }
    const int n = std::min(dataSize - m_Position, length - done);
    m_Current.Write(buffer + done, n, m_Position);
    done += n;
    m_Position += n;
    m_Count += static_cast<std::uint32_t>(n);
  }
}

void qvt_SectorWriter::Finish() {
  unsigned char word[4];
  omi_Bytes::PutLE32(word, m_Count);
  m_First.Write(reinterpret_cast<const char*>(word), 4, 0);
}
