// A byte buffer that owns its memory: the decoded bytes of one segment, or
// an encoded segment on its way to or from the container. Shrinking keeps
// the memory and Reuse takes it back up, so one buffer serves every segment;
// swapping moves it without copying.
#ifndef QVT_IMPL_QVT_SEGMENTBUFFER_H
#define QVT_IMPL_QVT_SEGMENTBUFFER_H

#include <memory>

class qvt_SegmentBuffer {
 public:
  qvt_SegmentBuffer() = default;
  // size bytes, not initialised. REQUIRES: size >= 0.
  explicit qvt_SegmentBuffer(int size);
  // Buffers are large: they change hands by Swap, never by copying.
  qvt_SegmentBuffer(const qvt_SegmentBuffer&) = delete;
  qvt_SegmentBuffer& operator=(const qvt_SegmentBuffer&) = delete;
  ~qvt_SegmentBuffer() = default;

  void Swap(qvt_SegmentBuffer& other) noexcept;
  // Fills bytes [from, Size()) with zeros.
  void ZeroFrom(int from);
  // REQUIRES: newSize <= Size(); the memory is kept.
  void Shrink(int newSize);
  // size bytes, not initialised: the memory is kept when it holds size
  // bytes, replaced otherwise. REQUIRES: size >= 0.
  void Reuse(int size);

  char* Data() { return m_Data.get(); }
  const char* Data() const { return m_Data.get(); }
  int Size() const { return m_Size; }

 private:
  std::unique_ptr<char[]> m_Data;
  int m_Size = 0;
  int m_Capacity = 0;
};

#endif  // QVT_IMPL_QVT_SEGMENTBUFFER_H
