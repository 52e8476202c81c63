// Owned byte buffers for segments.
#include "qvt_SegmentBuffer.h"

#include <cstring>
#include <utility>

#include "nex_Exception.h"

qvt_SegmentBuffer::qvt_SegmentBuffer(int size)
    : m_Data(size > 0 ? new char[static_cast<std::size_t>(size)] : nullptr), m_Size(size), m_Capacity(size) {
  NEX_ASSERT(size >= 0);
}

void qvt_SegmentBuffer::Swap(qvt_SegmentBuffer& other) noexcept {
  std::swap(m_Data, other.m_Data);
  std::swap(m_Size, other.m_Size);
  std::swap(m_Capacity, other.m_Capacity);
}

void qvt_SegmentBuffer::ZeroFrom(int from) {
  if (from < 0) from = 0;
  if (from < m_Size) std::memset(m_Data.get() + from, 0, static_cast<std::size_t>(m_Size - from));
}

void qvt_SegmentBuffer::Shrink(int newSize) {
  NEX_ASSERT(newSize <= m_Size);
  NEX_ASSERT(newSize >= 0);
  m_Size = newSize;
}

void qvt_SegmentBuffer::Reuse(int size) {
  NEX_ASSERT(size >= 0);
  if (size > m_Capacity) {
    m_Data.reset(new char[static_cast<std::size_t>(size)]);
    m_Capacity = size;
  }
  m_Size = size;
}
