// The segment table of a compressed file.
#include "qvt_EncodedSegmentTable.h"

#include <climits>

#include "omi_Swapper.h"
#include "qvt_EncodedMessages.h"

namespace {
bool IsValidSegmentSize(std::int64_t size) { return size > 0 && size <= qvt_SegmentBufferCache::kBudget; }
}  // namespace

qvt_EncodedSegmentTable::qvt_EncodedSegmentTable(const cow_String& path, std::unique_ptr<qvt_Codec> codec, int access)
    : qvt_SectorArray(path, access), m_Codec(std::move(codec)) {
  ReadTableHeader();
}

qvt_EncodedSegmentTable::qvt_EncodedSegmentTable(const cow_String& path, std::unique_ptr<qvt_Codec> codec,
                                                 int segmentSize, CreateTag)
    : qvt_SectorArray(path, CheckedHeaderSize(path, segmentSize), CreateTag{}),
      m_Cache(segmentSize),
      m_Codec(std::move(codec)),
      m_SegmentSize(segmentSize),
      m_NumSegments(0),
      m_LastLength(segmentSize) {}

int qvt_EncodedSegmentTable::CheckedHeaderSize(const cow_String& path, int segmentSize) {
  // Runs before the container creates the file, so a bad size leaves the
  // path alone.
  if (!IsValidSegmentSize(segmentSize))
    QVT_ENCODED_CORRUPT("qvt_EncodedSegmentTable::Create", path,
                        atr_Format(qvt_EncodedMessages::kSegmentSize, segmentSize));
  return kTableHeaderSize;
}

void qvt_EncodedSegmentTable::ReadTableHeader() {
  unsigned char tmp[kTableHeaderSize] = {};
  const int cnt = ReadUserHeader(reinterpret_cast<char*>(tmp), kTableHeaderSize);
  NEX_ASSERT_MSG(cnt == kTableHeaderSize, "cnt == sizeof(tmp)");
  NEX_ASSERT_MSG(omi_Bytes::GetLE32(tmp) == kMagic, "tmp[0] == MAGIC");
  NEX_ASSERT_MSG(omi_Bytes::GetLE32(tmp + 4) == kCurrentVersion, "tmp[1] == CURRENT_VERSION");
  const std::uint32_t segmentSize = omi_Bytes::GetLE32(tmp + 8);
  const std::uint32_t numSegments = omi_Bytes::GetLE32(tmp + 12);
  const std::uint32_t lastLength = omi_Bytes::GetLE32(tmp + 16);
  // The segment size sizes every decoded buffer and divides the cache's
  // budget; the counts give the logical size.
  if (!IsValidSegmentSize(segmentSize))
    QVT_ENCODED_CORRUPT("qvt_EncodedSegmentTable::Open", Name(),
                        atr_Format(qvt_EncodedMessages::kSegmentSize, static_cast<std::int64_t>(segmentSize)));
  const bool countsFit = numSegments <= static_cast<std::uint32_t>(INT_MAX) &&
                         (numSegments == 0 ? lastLength == segmentSize : lastLength <= segmentSize);
  if (!countsFit)
    QVT_ENCODED_CORRUPT("qvt_EncodedSegmentTable::Open", Name(),
                        atr_Format(qvt_EncodedMessages::kSegmentCount, static_cast<std::int64_t>(numSegments),
                                   static_cast<std::int64_t>(lastLength)));
  m_SegmentSize = static_cast<int>(segmentSize);
  m_NumSegments = static_cast<int>(numSegments);
  m_LastLength = static_cast<int>(lastLength);
  m_Cache.Reset(m_SegmentSize);
}

void qvt_EncodedSegmentTable::WriteTableHeader() {
  UpdateLastLength();
  unsigned char tmp[kTableHeaderSize];
  omi_Bytes::PutLE32(tmp, kMagic);
  omi_Bytes::PutLE32(tmp + 4, kCurrentVersion);
  omi_Bytes::PutLE32(tmp + 8, static_cast<std::uint32_t>(m_SegmentSize));
  omi_Bytes::PutLE32(tmp + 12, static_cast<std::uint32_t>(m_NumSegments));
  omi_Bytes::PutLE32(tmp + 16, static_cast<std::uint32_t>(m_LastLength));
  WriteUserHeader(reinterpret_cast<const char*>(tmp), kTableHeaderSize);
}

qvt_EncodedSegment* qvt_EncodedSegmentTable::LastSegmentInHand() {
  if (m_NumSegments == 0 || m_CellCount != m_NumSegments) return nullptr;
  const auto it = m_Segments.find(m_NumSegments - 1);
  return it == m_Segments.end() ? nullptr : it->second.Get();
}

void qvt_EncodedSegmentTable::UpdateLastLength() {
  if (qvt_EncodedSegment* last = LastSegmentInHand()) m_LastLength = last->DecodedLength();
}

cow_CountedHld<qvt_EncodedSegment> qvt_EncodedSegmentTable::GetSegment(int index) {
  NEX_ASSERT(index >= 0 && index < INT_MAX);
  if (index >= m_CellCount) {
    // The old last segment is no longer the last: it now counts as full.
    if (qvt_EncodedSegment* last = LastSegmentInHand()) last->SetDecodedLength(m_SegmentSize);
    m_CellCount = index + 1;
    if (index + 1 > m_NumSegments) {
      m_NumSegments = index + 1;
      m_LastLength = 0;
    }
  }
  cow_CountedHld<qvt_EncodedSegment>& cell = m_Segments[index];
  if (!cell) {
    const int decodedLength = index < m_NumSegments - 1 ? m_SegmentSize : m_LastLength;
    cell = cow_CountedHld<qvt_EncodedSegment>(
        new qvt_EncodedSegment(index, this, &m_Cache, m_Codec.get(), decodedLength));
  }
  return cell;
}

void qvt_EncodedSegmentTable::Truncate(int index) {
  // The encoded file cuts just after its current segment, which may be the
  // last one, so cutting at the count itself is allowed and keeps every
  // segment; only a cut beyond the count is refused.
  NEX_ASSERT_MSG(index >= 0 && index <= m_NumSegments, "index < m_NumSegments");
  // Stores handed to the encoder come before the cut, as if made at once.
  m_Cache.Encoder().StoreAll();
  const auto first = m_Segments.lower_bound(index);
  for (auto it = first; it != m_Segments.end(); ++it) NEX_ASSERT_MSG(it->second->ArmCount() == 0, "!m_Armed");
  for (auto it = first; it != m_Segments.end(); ++it) it->second->Discard();
  m_Segments.erase(first, m_Segments.end());
  m_CellCount = index;
  m_NumSegments = index;
  m_LastLength = m_SegmentSize;

  // Stored bytes of cut-off segments would reappear if the file grew over
  // them again, here or after reopening; their entries are rewritten empty,
  // reusing their sectors.
  if (index >= EntryCount()) return;
  qvt_SegmentBuffer nothing(1);
  qvt_SegmentBuffer& encoded = m_Cache.EncodedScratch();
  m_Codec->Encode(encoded, nothing, 0);
  for (int entry = index; entry < EntryCount(); ++entry) {
    if (!HasEntry(entry)) continue;
    qvt_SectorWriter writer = CreateEntry(entry);
    writer.Write(encoded.Data(), encoded.Size());
    writer.Finish();
  }
}

utl_FileOffset qvt_EncodedSegmentTable::LogicalSize() {
  UpdateLastLength();
  return static_cast<utl_FileOffset>(m_NumSegments - 1) * m_SegmentSize + m_LastLength;
}

void qvt_EncodedSegmentTable::Flush() {
  try {
    for (auto& cell : m_Segments) cell.second->Flush();
    m_Cache.Encoder().StoreAll();
  } catch (...) {
    // The segments whose copies are dropped still hold their bytes, dirty.
    m_Cache.Encoder().DropCopies();
    throw;
  }
  WriteTableHeader();
  qvt_SectorArray::Flush();
}
