// POSIX mappings: mmap with transparent huge pages advised for anonymous
// regions, MAP_SHARED for file ranges, posix_fallocate to reserve a file's
// storage.
#include "utl_MappedMemory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "utl_File.h"
#include <sys/mman.h>

namespace {
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

std::size_t SystemPage() {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

[[noreturn]] void ThrowMapError(std::size_t bytes, int err) {
  NEX_THROW_TEXT(
      atr_Format("***ERROR: Cannot map %s bytes of memory: %s", std::to_string(bytes), std::strerror(err)));
}
}  // namespace

std::unique_ptr<utl_MappedMemory> utl_MappedMemory::Anonymous(std::size_t bytes) {
  const std::size_t page = SystemPage();
  std::size_t size = (bytes + page - 1) / page * page;
  if (size == 0) size = page;
  // Huge pages need 2 MiB aligned ranges: map one huge page more and give
  // back what lies outside the aligned part.
  const bool huge = size >= kHugePage;
  const std::size_t ask = huge ? size + kHugePage : size;
  void* raw = ::mmap(nullptr, ask, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) ThrowMapError(bytes, errno);
  if (!huge)
    return std::unique_ptr<utl_MappedMemory>(new utl_MappedMemory(raw, size, static_cast<char*>(raw), bytes));
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) (void)::munmap(raw, aligned - start);
  const std::size_t tail = ask - (aligned - start) - size;
  if (tail > 0) (void)::munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* base = reinterpret_cast<void*>(aligned);
  // Only advice: without huge pages the memory works the same, faulted in
  // smaller pieces.
  (void)::madvise(base, size, MADV_HUGEPAGE);
  return std::unique_ptr<utl_MappedMemory>(new utl_MappedMemory(base, size, static_cast<char*>(base), bytes));
}

std::unique_ptr<utl_MappedMemory> utl_MappedMemory::OfFile(const utl_File& file, utl_FileOffset offset,
                                                           std::size_t bytes) {
  NEX_ASSERT(offset >= 0);
  const std::size_t page = SystemPage();
  const utl_FileOffset start = offset / static_cast<utl_FileOffset>(page) * static_cast<utl_FileOffset>(page);
  const std::size_t lead = static_cast<std::size_t>(offset - start);
  const std::size_t length = lead + (bytes == 0 ? 1 : bytes);
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, file.Descriptor(), start);
  if (base == MAP_FAILED) {
    const int err = errno;
    NEX_THROW_TEXT(atr_Format("***ERROR: Cannot map %s bytes of file %s: %s", std::to_string(bytes),
                              file.Name(), std::strerror(err)));
  }
  return std::unique_ptr<utl_MappedMemory>(
      new utl_MappedMemory(base, length, static_cast<char*>(base) + lead, bytes));
}

utl_MappedMemory::~utl_MappedMemory() { (void)::munmap(m_Base, m_Length); }

void utl_ReserveFileSpace(const utl_File& file, utl_FileOffset offset, utl_FileOffset length) {
  if (length <= 0) return;
  int err;
  do {
    err = ::posix_fallocate(file.Descriptor(), offset, length);
  } while (err == EINTR);
  if (err != 0)
    NEX_THROW_TEXT(atr_Format("***ERROR: Cannot reserve %s bytes of file %s: %s", std::to_string(length),
                              file.Name(), std::strerror(err)));
}
