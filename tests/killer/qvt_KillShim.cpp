// Test-only preload library: SIGKILL just before the N-th pwrite or ftruncate (QVT_KILL_AT, from 1),
// as the out-of-memory killer would. With QVT_KILL_TORN, a pwrite over a page boundary first lets
// its first page land, as the kernel may. qvt_KillShimCalls answers the calls counted so far.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include <sys/types.h>

namespace {
long g_Calls = 0;
// Counts one call; the fatal one kills the process.
void Count(const std::function<void()>& beforeDying = nullptr) {
  static const long killAt = std::getenv("QVT_KILL_AT") ? std::atol(std::getenv("QVT_KILL_AT")) : 0;
  if (++g_Calls != killAt) return;
  if (beforeDying) beforeDying();
  ::kill(::getpid(), SIGKILL);
  ::pause();
}
}  // namespace

// Only the two calls utl_File makes; built without _FILE_OFFSET_BITS, it never calls pwrite64.
extern "C" {

long qvt_KillShimCalls() { return g_Calls; }

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
  static const auto next = reinterpret_cast<PwriteFn>(::dlsym(RTLD_NEXT, "pwrite"));
  static const bool torn = std::getenv("QVT_KILL_TORN") != nullptr;
  const off_t firstPage = 4096 - offset % 4096;  // bytes to the next page boundary
  Count([&] {
    if (torn && static_cast<off_t>(count) > firstPage) (void)next(fd, buffer, size_t(firstPage), offset);
  });
  return next(fd, buffer, count, offset);
}

int ftruncate(int fd, off_t length) {
  static const auto next = reinterpret_cast<int (*)(int, off_t)>(::dlsym(RTLD_NEXT, "ftruncate"));
  Count();
  return next(fd, length);
}

}  // extern "C"
