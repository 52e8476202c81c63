// The baselines without a database: plain write()/read() of the bytes in
// 1 MiB steps, and bare zlib (compress2 level 6, uncompress) on the same
// 64 KiB segments that a compressed file holds, in memory.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include "compare_systems.h"

namespace compare {

Measure PlainWriteDoubles(const std::string& path, const std::vector<double>& data) {
  const char* bytes = reinterpret_cast<const char*>(data.data());
  const std::size_t size = data.size() * sizeof(double);
  const Stopwatch watch;
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) Fail("plain write: cannot create " + path);
  for (std::size_t at = 0; at < size;) {
    const ssize_t n = ::write(fd, bytes + at, std::min(kStep, size - at));
    if (n <= 0) Fail("plain write: write failed");
    at += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) Fail("plain write: close failed");
  return watch.Done();
}

Measure PlainReadDoubles(const std::string& path, std::vector<double>* out) {
  char* bytes = reinterpret_cast<char*>(out->data());
  const std::size_t size = out->size() * sizeof(double);
  const Stopwatch watch;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("plain read: cannot open " + path);
  std::size_t at = 0;
  while (at < size) {
    const ssize_t n = ::read(fd, bytes + at, std::min(kStep, size - at));
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) Fail("plain read: close failed");
  Measure done = watch.Done();
  if (at != size) Fail("plain read: short read");
  done.checksum = ExpectedDoubles(*out);
  return done;
}

Measure ZlibCompress(const std::vector<double>& data, std::vector<std::vector<unsigned char>>* segments) {
  const auto* bytes = reinterpret_cast<const Bytef*>(data.data());
  const std::size_t size = data.size() * sizeof(double);
  segments->assign((size + kSegment - 1) / kSegment, std::vector<unsigned char>(compressBound(kSegment)));
  const Stopwatch watch;
  for (std::size_t s = 0; s < segments->size(); ++s) {
    std::vector<unsigned char>& out = (*segments)[s];
    const std::size_t at = s * kSegment;
    uLongf length = static_cast<uLongf>(out.size());
    if (compress2(out.data(), &length, bytes + at,
                  static_cast<uLong>(std::min<std::size_t>(kSegment, size - at)), 6) != Z_OK)
      Fail("zlib: compress2 failed");
    out.resize(length);
  }
  return watch.Done();
}

Measure ZlibUncompress(const std::vector<std::vector<unsigned char>>& segments, std::vector<double>* out) {
  auto* bytes = reinterpret_cast<Bytef*>(out->data());
  const std::size_t size = out->size() * sizeof(double);
  const Stopwatch watch;
  for (std::size_t s = 0; s < segments.size(); ++s) {
    const std::size_t at = s * kSegment;
    const uLongf expected = static_cast<uLongf>(std::min<std::size_t>(kSegment, size - at));
    uLongf length = expected;
    if (uncompress(bytes + at, &length, segments[s].data(), static_cast<uLong>(segments[s].size())) != Z_OK ||
        length != expected)
      Fail("zlib: uncompress failed");
  }
  Measure done = watch.Done();
  done.checksum = ExpectedDoubles(*out);
  return done;
}

}  // namespace compare
