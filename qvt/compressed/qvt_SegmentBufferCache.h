// Lends decoded-segment buffers to the segments of one compressed file and
// keeps them within 1 MiB in total unless every buffer is in use. A buffer
// handed back stays with its segment's entry, decoded bytes and all, so the
// segment can be armed again without decoding; when a new buffer is needed
// at the limit, the least recently armed parked buffer is reclaimed (its
// segment stores itself first if dirty, or hands its bytes to the encoder
// for a store to come) and moves to the new entry.
#ifndef QVT_IMPL_QVT_SEGMENTBUFFERCACHE_H
#define QVT_IMPL_QVT_SEGMENTBUFFERCACHE_H

#include <list>
#include <map>

#include "qvt_SegmentBuffer.h"
#include "qvt_SegmentEncoder.h"

class qvt_EncodedSegment;

class qvt_SegmentBufferCache {
 public:
  // Decoded bytes the cache keeps while any buffer can be reclaimed.
  static constexpr int kBudget = 0x100000;

  struct Entry {
    qvt_SegmentBuffer m_StreamBuffer;          // empty while the entry has no buffer
    qvt_EncodedSegment* m_Holder = nullptr;  // the segment that parked it
  };

  // A cache with no buffers to lend, until Reset gives it a segment size.
  qvt_SegmentBufferCache() = default;
  // REQUIRES: 0 < segmentSize <= kBudget.
  explicit qvt_SegmentBufferCache(int segmentSize);
  // Frees every buffer, once the encodings under way are done; calls no
  // segment.
  ~qvt_SegmentBufferCache() = default;
  qvt_SegmentBufferCache(const qvt_SegmentBufferCache&) = delete;
  qvt_SegmentBufferCache& operator=(const qvt_SegmentBufferCache&) = delete;

  // Starts over for a new segment size, dropping every buffer.
  void Reset(int segmentSize);

  // The entry whose buffer segment index arms. The reference stays valid
  // until the entry's buffer is forgotten. THROWS what the reclaimed
  // segment's store throws.
  Entry& Get(int index);
  // Parks the buffer of an armed entry for holder.
  void Release(int index, qvt_EncodedSegment* holder);
  // Drops the buffer that holder parked at index, if it still has it, so
  // that a discarded segment is never called back.
  void Forget(int index, const qvt_EncodedSegment* holder);
  // Drops the buffer of an armed entry whose segment could not use it.
  void Abandon(int index);

  int Limit() const { return m_Limit; }
  int BufferSize() const { return m_BufferSize; }
  // Encoded bytes of the one segment being stored or loaded, kept between
  // segments so that storing and loading allocate nothing once warm.
  qvt_SegmentBuffer& EncodedScratch() { return m_Encoded; }
  // Encodes dirty segments on other threads and stores them in order.
  qvt_SegmentEncoder& Encoder() { return m_Encoder; }
  // Buffers currently allocated, armed or parked.
  int BufferCount() const { return static_cast<int>(m_Recency.size()); }
  // True when index's entry has a parked buffer.
  bool IsParked(int index) const;

 private:
  Entry* Find(int index);
  void RemoveFromRecency(int index);

  int m_Limit = 0;
  int m_BufferSize = 0;
  // Entries by segment index; an index without an entry has no buffer.
  // Entries without a buffer are dropped, so memory follows the buffers,
  // not the file's length.
  std::map<int, Entry> m_Entries;
  int m_EntryCount = 0;  // one past the highest index ever asked for
  // Indices whose entry has a buffer, least recently armed first.
  std::list<int> m_Recency;
  qvt_SegmentBuffer m_Encoded;
  qvt_SegmentEncoder m_Encoder;
};

#endif  // QVT_IMPL_QVT_SEGMENTBUFFERCACHE_H
