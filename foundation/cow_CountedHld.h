// The counted holder behind every public handle: the object pointer and a
// separately allocated count starting at 1. Copies share the object; the
// last release deletes it through its virtual destructor. Not thread-safe:
// one database is used by one thread at a time.
#ifndef QVT_FOUNDATION_COW_COUNTEDHLD_H
#define QVT_FOUNDATION_COW_COUNTEDHLD_H

#include <utility>

template <class T>
class cow_CountedHld {
 public:
  cow_CountedHld() = default;
  // Takes ownership of obj (may be null: an empty holder).
  explicit cow_CountedHld(T* obj) : m_Object(obj), m_Count(obj ? new int(1) : nullptr) {}
  cow_CountedHld(const cow_CountedHld& other) : m_Object(other.m_Object), m_Count(other.m_Count) {
    if (m_Count) ++*m_Count;
  }
  cow_CountedHld(cow_CountedHld&& other) noexcept
      : m_Object(std::exchange(other.m_Object, nullptr)), m_Count(std::exchange(other.m_Count, nullptr)) {}
  cow_CountedHld& operator=(cow_CountedHld other) noexcept {
    std::swap(m_Object, other.m_Object);
    std::swap(m_Count, other.m_Count);
    return *this;
  }
  ~cow_CountedHld() { Release(); }

  T* Get() const { return m_Object; }
  T* operator->() const { return m_Object; }
  T& operator*() const { return *m_Object; }
  explicit operator bool() const { return m_Object != nullptr; }
  int UseCount() const { return m_Count ? *m_Count : 0; }

 private:
  void Release() noexcept {
    if (m_Count && --*m_Count == 0) {
      delete m_Object;
      delete m_Count;
    }
    m_Object = nullptr;
    m_Count = nullptr;
  }

  T* m_Object = nullptr;
  int* m_Count = nullptr;
};

#endif  // QVT_FOUNDATION_COW_COUNTEDHLD_H
