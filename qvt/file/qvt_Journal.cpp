// The rollback journal: saving old bytes before a write, putting them back
// after a crash, and reading through them.
#include "qvt_Journal.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "omi_Swapper.h"
#include "zip_Compress.h"

namespace {
const char kMagic[] = "QVTJRNL1";
constexpr int kMagicBytes = 8;
const char kSyncVariable[] = "KVR_QVT_SYNC";
// A journal that grew beyond this is cut back at the end of its round; a
// smaller one is only voided.
constexpr utl_FileOffset kKeptJournalBytes = 1 << 20;

// Where a and b first and last differ, found a chunk at a time: a linkage
// block of 14336 bytes usually differs in a few entries only.
constexpr int kChunk = 64;

int FirstDifference(const char* a, const char* b, int count) {
  int at = 0;
  while (at + kChunk <= count && std::memcmp(a + at, b + at, kChunk) == 0) at += kChunk;
  while (at < count && a[at] == b[at]) ++at;
  return at;
}

int LastDifference(const char* a, const char* b, int count) {
  int end = count;
  while (end - kChunk >= 0 && std::memcmp(a + end - kChunk, b + end - kChunk, kChunk) == 0) end -= kChunk;
  while (end > 0 && a[end - 1] == b[end - 1]) --end;
  return end - 1;
}

unsigned long Crc(unsigned long crc, const void* bytes, std::size_t count) {
  return zip_crc32(crc, static_cast<const unsigned char*>(bytes), static_cast<unsigned long>(count));
}
}  // namespace

cow_String qvt_Journal::NameFor(const cow_String& databaseName) { return databaseName + "-journal"; }

qvt_Journal::qvt_Journal(const cow_String& databaseName, utl_File& database)
    : m_Name(NameFor(databaseName)), m_Database(database), m_Sync(utl_GetEnv(kSyncVariable)) {}

qvt_Journal::~qvt_Journal() = default;

utl_File& qvt_Journal::JournalFile() {
  if (!m_Journal) m_Journal = std::make_unique<utl_File>(m_Name, utl_FileAccessCreate);
  return *m_Journal;
}

void qvt_Journal::Begin(utl_FileOffset protectedLimit, utl_FileOffset restoreSize) {
  m_Active = true;
  m_Limit = protectedLimit;
  m_RestoreSize = restoreSize;
  m_Saved.clear();
  unsigned char header[kHeaderBytes] = {};
  std::memcpy(header, kMagic, kMagicBytes);
  omi_Bytes::PutBE64(header + 8, static_cast<std::uint64_t>(m_Limit));
  omi_Bytes::PutBE64(header + 16, static_cast<std::uint64_t>(m_RestoreSize));
  omi_Bytes::PutBE32(header + 24, m_Round);
  m_HeaderCrc = Crc(0, header, 28);
}

void qvt_Journal::Save(utl_FileOffset first, utl_FileOffset end, const char* old) {
  m_Out.clear();
  if (m_End == 0) {
    m_Out.resize(kHeaderBytes);
    std::memcpy(m_Out.data(), kMagic, kMagicBytes);
    omi_Bytes::PutBE64(m_Out.data() + 8, static_cast<std::uint64_t>(m_Limit));
    omi_Bytes::PutBE64(m_Out.data() + 16, static_cast<std::uint64_t>(m_RestoreSize));
    omi_Bytes::PutBE32(m_Out.data() + 24, m_Round);
    omi_Bytes::PutBE32(m_Out.data() + 28, static_cast<std::uint32_t>(m_HeaderCrc));
  }
  auto append = [&](utl_FileOffset from, utl_FileOffset to) {
    const std::size_t at = m_Out.size();
    const std::size_t count = static_cast<std::size_t>(to - from);
    m_Out.resize(at + kRecordHeaderBytes + count);
    unsigned char* record = m_Out.data() + at;
    omi_Bytes::PutBE64(record, static_cast<std::uint64_t>(from));
    omi_Bytes::PutBE32(record + 8, static_cast<std::uint32_t>(count));
    std::memcpy(record + kRecordHeaderBytes, old + (from - first), count);
    const unsigned long crc = Crc(Crc(m_HeaderCrc, record, 12), record + kRecordHeaderBytes, count);
    omi_Bytes::PutBE32(record + 12, static_cast<std::uint32_t>(crc));
  };
  // The parts of [first, end) that no earlier record of this round holds:
  // a record must keep the bytes of the completed flush, not a later state.
  auto next = m_Saved.upper_bound(first);
  utl_FileOffset at = first;
  if (next != m_Saved.begin()) at = std::max(at, std::prev(next)->second);
  while (at < end) {
    const utl_FileOffset gapEnd = next == m_Saved.end() ? end : std::min(next->first, end);
    if (gapEnd > at) append(at, gapEnd);
    if (next == m_Saved.end() || next->first >= end) break;
    at = std::max(at, next->second);
    ++next;
  }
  if (m_Out.empty()) return;
  if (m_Out.size() > (m_End == 0 ? static_cast<std::size_t>(kHeaderBytes) : 0u)) {
    utl_File& journal = JournalFile();
    journal.Seek(m_End);
    journal.Write(reinterpret_cast<const char*>(m_Out.data()), static_cast<int>(m_Out.size()));
    if (m_Sync) journal.Sync();
    m_End += static_cast<utl_FileOffset>(m_Out.size());
  }
  // Merge [first, end) into the saved ranges.
  utl_FileOffset from = first;
  utl_FileOffset to = end;
  auto it = m_Saved.upper_bound(from);
  if (it != m_Saved.begin() && std::prev(it)->second >= from) --it;
  while (it != m_Saved.end() && it->first <= to) {
    from = std::min(from, it->first);
    to = std::max(to, it->second);
    it = m_Saved.erase(it);
  }
  m_Saved.emplace(from, to);
}

int qvt_Journal::Write(utl_FileOffset offset, const char* buffer, int count) {
  if (m_Active && offset < m_Limit && count > 0) {
    const int inPlace = static_cast<int>(std::min<utl_FileOffset>(count, m_Limit - offset));
    m_Old.assign(static_cast<std::size_t>(inPlace), '\0');
    m_Database.Seek(offset);
    m_Database.Read(m_Old.data(), inPlace);
    const int first = FirstDifference(m_Old.data(), buffer, inPlace);
    if (first < inPlace) {
      const int last = LastDifference(m_Old.data(), buffer, inPlace);
      Save(offset + first, offset + last + 1, m_Old.data() + first);
      m_Database.Seek(offset + first);
      m_Database.Write(buffer + first, last + 1 - first);
    }
    if (count > inPlace) {
      m_Database.Seek(offset + inPlace);
      m_Database.Write(buffer + inPlace, count - inPlace);
    }
  } else {
    m_Database.Seek(offset);
    m_Database.Write(buffer, count);
  }
  m_Database.Seek(offset + count);
  return count;
}

void qvt_Journal::Commit(utl_FileOffset protectedLimit, utl_FileOffset restoreSize) {
  if (m_End > 0) {
    if (m_Sync) m_Database.Sync();
    utl_File& journal = JournalFile();
    if (m_End > kKeptJournalBytes) {
      journal.Extend(0);
    } else {
      static const char kVoid[kMagicBytes] = {};
      journal.Seek(0);
      journal.Write(kVoid, kMagicBytes);
    }
    m_End = 0;
  }
  ++m_Round;
  Begin(protectedLimit, restoreSize);
}

void qvt_Journal::Remove() {
  m_Active = false;
  m_Journal.reset();
  (void)utl_RemoveFile(m_Name);  // absent when this writer never saved anything
}

void qvt_Journal::Discard() { (void)utl_RemoveFile(m_Name); }

bool qvt_Journal::Load(utl_File& journal, utl_FileOffset* limit, utl_FileOffset* restoreSize,
                       std::vector<Record>* records) {
  const utl_FileOffset size = journal.FileSize();
  if (size < kHeaderBytes || size > (utl_FileOffset{1} << 31)) return false;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  journal.Seek(0);
  if (journal.Read(reinterpret_cast<char*>(bytes.data()), static_cast<int>(size)) != size) return false;
  const unsigned long headerCrc = Crc(0, bytes.data(), 28);
  if (std::memcmp(bytes.data(), kMagic, kMagicBytes) != 0 || omi_Bytes::GetBE32(bytes.data() + 28) != headerCrc)
    return false;
  *limit = static_cast<utl_FileOffset>(omi_Bytes::GetBE64(bytes.data() + 8));
  *restoreSize = static_cast<utl_FileOffset>(omi_Bytes::GetBE64(bytes.data() + 16));
  if (*limit < 0 || *restoreSize < *limit) return false;
  std::size_t at = kHeaderBytes;
  while (at + kRecordHeaderBytes <= bytes.size()) {
    const unsigned char* record = bytes.data() + at;
    const utl_FileOffset offset = static_cast<utl_FileOffset>(omi_Bytes::GetBE64(record));
    const std::size_t count = omi_Bytes::GetBE32(record + 8);
    if (count == 0 || count > bytes.size() - at - kRecordHeaderBytes) break;
    if (offset < 0 || offset > *limit || static_cast<utl_FileOffset>(count) > *limit - offset) break;
    const unsigned long crc = Crc(Crc(headerCrc, record, 12), record + kRecordHeaderBytes, count);
    if (omi_Bytes::GetBE32(record + 12) != crc) break;
    const char* saved = reinterpret_cast<const char*>(record + kRecordHeaderBytes);
    records->push_back(Record{offset, std::vector<char>(saved, saved + count)});
    at += kRecordHeaderBytes + count;
  }
  return true;
}

bool qvt_Journal::Recover() {
  if (!utl_FilePath(m_Name).Exists()) return false;
  utl_File journal(m_Name, utl_FileAccessUpdate);
  utl_FileOffset limit = 0;
  utl_FileOffset restoreSize = 0;
  std::vector<Record> records;
  const bool usable = Load(journal, &limit, &restoreSize, &records);
  if (usable) {
    // Latest first, so that where records overlap the oldest bytes win.
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      m_Database.Seek(it->offset);
      m_Database.Write(it->bytes.data(), static_cast<int>(it->bytes.size()));
    }
    m_Database.Extend(restoreSize);
    if (m_Sync) m_Database.Sync();
  }
  // Emptied only once the database is whole again: a crash before this
  // point leaves the journal to be applied once more.
  journal.Extend(0);
  return usable && !records.empty();
}

utl_FileOffset qvt_Journal::LoadForReading() {
  if (!utl_FilePath(m_Name).Exists() || m_Database.WriterLockHeldElsewhere()) return -1;
  utl_FileOffset limit = 0;
  utl_FileOffset restoreSize = 0;
  std::vector<Record> records;
  try {
    utl_File journal(m_Name, utl_FileAccessRead);
    if (!Load(journal, &limit, &restoreSize, &records)) return -1;
  } catch (const utl_FileExceptionNoFile&) {
    return -1;  // a new writer emptied and removed it meanwhile
  }
  m_Overlay = std::move(records);
  return restoreSize;
}

void qvt_Journal::Overlay(utl_FileOffset offset, char* buffer, int count) const {
  for (auto it = m_Overlay.rbegin(); it != m_Overlay.rend(); ++it) {
    const utl_FileOffset from = std::max(offset, it->offset);
    const utl_FileOffset to =
        std::min(offset + count, it->offset + static_cast<utl_FileOffset>(it->bytes.size()));
    if (from < to)
      std::memcpy(buffer + (from - offset), it->bytes.data() + (from - it->offset), static_cast<std::size_t>(to - from));
  }
}
