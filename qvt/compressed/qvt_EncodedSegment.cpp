// Segments of a compressed file: arming, decoding, encoding and storing.
#include "qvt_EncodedSegment.h"

#include <algorithm>
#include <cstring>

#include "qvt_Codec.h"
#include "qvt_EncodedMessages.h"
#include "qvt_SectorArray.h"
#include "qvt_SegmentBuffer.h"
#include "qvt_SegmentBufferCache.h"

qvt_EncodedSegment::qvt_EncodedSegment(int index, qvt_SectorArray* table, qvt_SegmentBufferCache* cache,
                                       qvt_Codec* codec, int decodedLength)
    : m_Index(index), m_Table(table), m_Cache(cache), m_Codec(codec), m_DecodedLength(decodedLength) {}

qvt_EncodedSegment::~qvt_EncodedSegment() { m_Cache->Forget(m_Index, this); }

void qvt_EncodedSegment::Arm() {
  if (m_Armed == 0) {
    m_Buffer = &m_Cache->Get(m_Index).m_StreamBuffer;
    try {
      NEX_ASSERT(m_DecodedLength <= m_Buffer->Size());
      if (!m_Loaded) Load();
    } catch (...) {
      // The buffer holds nothing usable: give it up rather than park it,
      // so that it is never stored in place of the segment's bytes.
      m_Cache->Abandon(m_Index);
      m_Buffer = nullptr;
      throw;
    }
  }
  ++m_Armed;
}

void qvt_EncodedSegment::Disarm() {
  NEX_ASSERT(m_Armed > 0);
  if (--m_Armed == 0) {
    m_Cache->Release(m_Index, this);
    m_Buffer = nullptr;
  }
}

void qvt_EncodedSegment::Read(char* out, int first, int length) const {
  NEX_ASSERT(m_Armed);
  NEX_ASSERT(first + length <= m_DecodedLength);
  NEX_ASSERT(first >= 0 && length >= 0);
  std::memcpy(out, m_Buffer->Data() + first, static_cast<std::size_t>(length));
}

void qvt_EncodedSegment::Write(const char* in, int firstOut, int length) {
  NEX_ASSERT(m_Armed);
  NEX_ASSERT(firstOut + length <= m_Buffer->Size());
  NEX_ASSERT(firstOut >= 0 && length >= 0);
  std::memcpy(m_Buffer->Data() + firstOut, in, static_cast<std::size_t>(length));
  if (firstOut + length > m_DecodedLength) m_DecodedLength = firstOut + length;
  m_Dirty = true;
}

void qvt_EncodedSegment::SetDecodedLength(int length) {
  NEX_ASSERT(length >= 0 && length <= m_Cache->BufferSize());
  if (length == m_DecodedLength) return;
  if (length < m_DecodedLength && m_Loaded) {
    // Keep the bytes past the end zero, so that growing again shows zeros.
    Arm();
    std::memset(m_Buffer->Data() + length, 0, static_cast<std::size_t>(m_DecodedLength - length));
    Disarm();
  }
  m_DecodedLength = length;
  // A pending store gives the segment an entry as surely as a past one.
  if (m_Pending || m_Table->HasEntry(m_Index)) m_Dirty = true;
}

void qvt_EncodedSegment::Load() {
  NEX_ASSERT(m_Buffer);
  NEX_ASSERT(!m_Loaded);
  if (m_Pending) m_Cache->Encoder().StoreAll();
  if (m_Table->HasEntry(m_Index)) {
    qvt_SectorReader reader = m_Table->OpenEntry(m_Index);
    const std::uint32_t count = reader.StoredCount();
    // The stored count covers the payload and its own four bytes; the read
    // takes four bytes past the payload, which the codec ignores.
    if (count - 4 > static_cast<std::uint32_t>(m_Codec->EncodedRoom(m_Buffer->Size())))
      QVT_ENCODED_CORRUPT("qvt_EncodedSegment::Load", m_Table->Name(),
                          atr_Format(qvt_EncodedMessages::kSegmentLength, m_Index, static_cast<std::int64_t>(count)));
    qvt_SegmentBuffer& encoded = m_Cache->EncodedScratch();
    encoded.Reuse(static_cast<int>(count));
    encoded.Shrink(reader.Read(encoded.Data(), encoded.Size()));
    const int decoded = m_Codec->Decode(*m_Buffer, encoded);
    m_Buffer->ZeroFrom(std::min(decoded, m_DecodedLength));
  } else {
    // Never stored: the segment holds only bytes the file was extended by.
    m_Buffer->ZeroFrom(0);
  }
  m_Loaded = true;
}

void qvt_EncodedSegment::Store(qvt_SegmentBuffer* buffer) {
  NEX_ASSERT(buffer);
  NEX_ASSERT(m_Dirty);
  m_Cache->Encoder().StoreAll();
  qvt_SegmentBuffer& encoded = m_Cache->EncodedScratch();
  m_Codec->Encode(encoded, *buffer, m_DecodedLength);
  StoreEncoded(encoded, true);
}

void qvt_EncodedSegment::StoreEncoded(const qvt_SegmentBuffer& encoded, bool keptBytes) {
  qvt_SectorWriter writer = m_Table->CreateEntry(m_Index);
  writer.Write(encoded.Data(), encoded.Size());
  writer.Finish();
  // Clean only once the count is stored too.
  if (keptBytes) {
    m_Dirty = false;
  } else {
    m_Pending = false;
  }
}

void qvt_EncodedSegment::Flush() {
  if (!m_Dirty) return;
  qvt_SegmentEncoder& encoder = m_Cache->Encoder();
  // A segment that holds its buffer arms without reclaiming another; one
  // that does not may reclaim a segment whose copy is queued, which must
  // be stored (and clean) by then.
  const bool queue = m_Loaded && encoder.Parallel(*m_Codec);
  if (!queue) encoder.StoreAll();
  Arm();
  try {
    if (queue) {
      encoder.Copy(this, *m_Buffer, m_DecodedLength);
    } else {
      Store(m_Buffer);
    }
  } catch (...) {
    Disarm();
    throw;
  }
  Disarm();
}

void qvt_EncodedSegment::Reclaim(int index, qvt_SegmentBuffer* buffer) {
  NEX_ASSERT(buffer);
  NEX_ASSERT(!m_Armed);
  NEX_ASSERT(index == m_Index);
  if (m_Dirty) {
    qvt_SegmentEncoder& encoder = m_Cache->Encoder();
    if (encoder.Parallel(*m_Codec)) {
      // The buffer goes to the encoder and another comes back in its place.
      encoder.HandOver(this, buffer, m_DecodedLength);
      m_Pending = true;
      m_Dirty = false;
    } else {
      Store(buffer);
    }
  }
  m_Loaded = false;
}

void qvt_EncodedSegment::Discard() {
  NEX_ASSERT(!m_Armed);
  m_Cache->Forget(m_Index, this);
  m_Loaded = false;
  m_Dirty = false;
}
