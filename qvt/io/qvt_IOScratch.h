// The one scratch block a typed array transfer converts through. Transfers of
// up to kInline bytes (every scalar) use storage inside the object; larger
// ones make exactly one heap allocation, released when the object goes.
#ifndef QVT_IMPL_QVT_IOSCRATCH_H
#define QVT_IMPL_QVT_IOSCRATCH_H

#include <cstddef>
#include <memory>

class qvt_IOScratch {
 public:
  static constexpr std::size_t kInline = 64;

  explicit qvt_IOScratch(std::size_t bytes) : m_Heap(bytes > kInline ? new char[bytes] : nullptr) {}
  qvt_IOScratch(const qvt_IOScratch&) = delete;
  qvt_IOScratch& operator=(const qvt_IOScratch&) = delete;

  char* Data() { return m_Heap ? m_Heap.get() : m_Inline; }

 private:
  char m_Inline[kInline];
  std::unique_ptr<char[]> m_Heap;
};

#endif  // QVT_IMPL_QVT_IOSCRATCH_H
