// One segment of a compressed file: a fixed-size slice of the logical byte
// stream, stored compressed as one container entry. While armed it holds a
// buffer lent by the segment buffer cache with its decoded bytes; it decodes
// on first use and encodes and stores itself when dirty (at flush, or when
// the cache takes its parked buffer back). Where the file's encoder works in
// parallel, a reclaimed dirty segment hands its bytes to the encoder and is
// pending until the encoder stores it; a flush queues copies of its dirty
// segments' bytes and waits for their stores.
//
// Bytes of the buffer past the decoded length are kept zero, so that bytes
// a file gains by being extended read as zeros, as in a plain file.
#ifndef QVT_IMPL_QVT_ENCODEDSEGMENT_H
#define QVT_IMPL_QVT_ENCODEDSEGMENT_H

class qvt_Codec;
class qvt_SectorArray;
class qvt_SegmentBuffer;
class qvt_SegmentBufferCache;

class qvt_EncodedSegment {
 public:
  qvt_EncodedSegment(int index, qvt_SectorArray* table, qvt_SegmentBufferCache* cache, qvt_Codec* codec,
                     int decodedLength);
  // Drops a buffer it parked in the cache; stores nothing.
  virtual ~qvt_EncodedSegment();
  qvt_EncodedSegment(const qvt_EncodedSegment&) = delete;
  qvt_EncodedSegment& operator=(const qvt_EncodedSegment&) = delete;

  // Adds a holder. The first takes a buffer from the cache and decodes the
  // stored bytes unless they are still there. THROWS nex_TextException for a
  // segment that cannot be decoded (the segment stays unarmed).
  void Arm();
  // Removes a holder; the last parks the buffer in the cache.
  void Disarm();

  // REQUIRES: armed; first + length <= DecodedLength().
  void Read(char* out, int first, int length) const;
  // REQUIRES: armed; firstOut + length within the segment size. Raises the
  // decoded length to cover the bytes and marks the segment dirty.
  void Write(const char* in, int firstOut, int length);
  // Sets the decoded length. It becomes dirty only when it changes and the
  // segment has stored bytes to correct.
  void SetDecodedLength(int length);

  // Stores what is pending with the encoder first when this segment is.
  void Load();
  // Stores what is pending with the encoder, then encodes the first
  // DecodedLength() bytes of buffer and stores them as the segment's entry.
  // REQUIRES: dirty.
  void Store(qvt_SegmentBuffer* buffer);
  // Stores the segment if it is dirty, or queues the store with the encoder
  // (the table's flush then stores everything queued).
  void Flush();
  // Called by the encoder (and Store) only: stores encoded as the segment's
  // entry. keptBytes: the segment kept the bytes encoded, which become clean;
  // otherwise they were handed over and are no longer pending.
  void StoreEncoded(const qvt_SegmentBuffer& encoded, bool keptBytes);
  // Called by the cache only: it takes the parked buffer back.
  virtual void Reclaim(int index, qvt_SegmentBuffer* buffer);
  // Called by the table when it cuts the segment off: forgets its parked
  // buffer and its changes, which lie beyond the end of the file.
  void Discard();

  int Index() const { return m_Index; }
  int DecodedLength() const { return m_DecodedLength; }
  bool IsLoaded() const { return m_Loaded; }
  bool IsDirty() const { return m_Dirty; }
  int ArmCount() const { return m_Armed; }

 private:
  int m_Index;
  qvt_SectorArray* m_Table;
  qvt_SegmentBufferCache* m_Cache;
  qvt_Codec* m_Codec;
  qvt_SegmentBuffer* m_Buffer = nullptr;
  int m_DecodedLength;
  bool m_Loaded = false;
  bool m_Dirty = false;
  bool m_Pending = false;  // bytes handed to the encoder wait for their store
  int m_Armed = 0;
};

#endif  // QVT_IMPL_QVT_ENCODEDSEGMENT_H
