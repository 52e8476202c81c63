// Test-only preload library: kills its own process with SIGKILL just before
// the N-th pwrite or ftruncate (N from QVT_KILL_AT, counted from 1 over
// every descriptor), as a scheduler or the out-of-memory killer would. With
// QVT_KILL_TORN set, a pwrite that spans more than one page first lets the
// bytes up to the first page boundary land, as the kernel may on a fatal
// signal. qvt_KillShimCalls answers the calls counted so far.
#include <dlfcn.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr off_t kPage = 4096;

long g_Calls = 0;

using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using FtruncateFn = int (*)(int, off_t);

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// Counts one call; before the fatal one, lets the first page of a torn
// multi-page write land (write given) and dies.
void Count(PwriteFn write, int fd, const void* buffer, size_t count, off_t offset) {
  static const long killAt = std::getenv("QVT_KILL_AT") ? std::atol(std::getenv("QVT_KILL_AT")) : 0;
  static const bool torn = std::getenv("QVT_KILL_TORN") != nullptr;
  if (++g_Calls != killAt) return;
  const off_t firstPage = kPage - offset % kPage;
  if (write && torn && static_cast<off_t>(count) > firstPage) {
    (void)write(fd, buffer, static_cast<size_t>(firstPage), offset);
  }
  ::kill(::getpid(), SIGKILL);
  ::pause();
}

}  // namespace

extern "C" {

long qvt_KillShimCalls() { return g_Calls; }

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  static const PwriteFn next = Next<PwriteFn>("pwrite");
  Count(next, fd, buffer, count, offset);
  return next(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
  static const PwriteFn next = Next<PwriteFn>("pwrite64");
  Count(next, fd, buffer, count, offset);
  return next(fd, buffer, count, offset);
}

int ftruncate(int fd, off_t length) {
  static const FtruncateFn next = Next<FtruncateFn>("ftruncate");
  Count(nullptr, fd, nullptr, 0, 0);
  return next(fd, length);
}

int ftruncate64(int fd, off_t length) {
  static const FtruncateFn next = Next<FtruncateFn>("ftruncate64");
  Count(nullptr, fd, nullptr, 0, 0);
  return next(fd, length);
}

}  // extern "C"
