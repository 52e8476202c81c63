// Locks: a plain mutex and the process-wide global lock under which other
// locks are created lazily. Built on the standard library's mutex.
#ifndef QVT_FOUNDATION_THR_MUTEX_H
#define QVT_FOUNDATION_THR_MUTEX_H

#include <mutex>

class thr_Mutex {
 public:
  thr_Mutex() = default;
  thr_Mutex(const thr_Mutex&) = delete;
  thr_Mutex& operator=(const thr_Mutex&) = delete;
  void Lock() { m_Mutex.lock(); }
  void Unlock() { m_Mutex.unlock(); }

 private:
  std::mutex m_Mutex;
};

// One mutex for the whole process; it exists from the first call on and is
// never destroyed, so it may guard the creation of other process-wide state.
class thr_GlobalLock {
 public:
  static thr_Mutex& Instance();
};

// Holds a thr_Mutex for the life of the object.
class thr_Guard {
 public:
  explicit thr_Guard(thr_Mutex& mutex) : m_Mutex(mutex) { m_Mutex.Lock(); }
  ~thr_Guard() { m_Mutex.Unlock(); }
  thr_Guard(const thr_Guard&) = delete;
  thr_Guard& operator=(const thr_Guard&) = delete;

 private:
  thr_Mutex& m_Mutex;
};

#endif  // QVT_FOUNDATION_THR_MUTEX_H
