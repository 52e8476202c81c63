// Counts heap allocations made through the global operator new, in a test
// executable that writes QVT_DEFINE_ALLOCATION_COUNTER() in exactly one of
// its source files: that replaces operator new and delete for all of it.
#ifndef QVT_TESTS_SUPPORT_QVT_ALLOCATIONCOUNTER_H
#define QVT_TESTS_SUPPORT_QVT_ALLOCATIONCOUNTER_H

#include <atomic>
#include <cstdlib>
#include <new>

namespace qvt_test {
// Total allocations so far in the executable.
long AllocationCount();
}  // namespace qvt_test

// The replacement pairs malloc with free on purpose; GCC cannot see that
// through the inlined operators, so its mismatch warning is silenced here.
#define QVT_DEFINE_ALLOCATION_COUNTER()                                              \
  _Pragma("GCC diagnostic push")                                                     \
  _Pragma("GCC diagnostic ignored \"-Wmismatched-new-delete\"")                      \
  static std::atomic<long> qvt_allocations_{0};                                      \
  long qvt_test::AllocationCount() { return qvt_allocations_.load(); }               \
  void* operator new(std::size_t size) {                                             \
    ++qvt_allocations_;                                                              \
    if (void* p = std::malloc(size ? size : 1)) return p;                            \
    throw std::bad_alloc();                                                          \
  }                                                                                  \
  void* operator new[](std::size_t size) { return operator new(size); }              \
  void operator delete(void* p) noexcept { std::free(p); }                           \
  void operator delete[](void* p) noexcept { std::free(p); }                         \
  void operator delete(void* p, std::size_t) noexcept { std::free(p); }              \
  void operator delete[](void* p, std::size_t) noexcept { std::free(p); }            \
  _Pragma("GCC diagnostic pop")

#endif  // QVT_TESTS_SUPPORT_QVT_ALLOCATIONCOUNTER_H
