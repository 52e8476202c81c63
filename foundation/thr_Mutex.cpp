// The global lock: a function-local static, created once even when first
// reached from two threads at the same time.
#include "thr_Mutex.h"

thr_Mutex& thr_GlobalLock::Instance() {
  static thr_Mutex* const global = new thr_Mutex();  // never destroyed: usable during exit
  return *global;
}
