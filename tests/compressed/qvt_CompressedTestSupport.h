// Helpers for the compressed-file tests: little-endian words of raw file bytes and seeded compressible data.
#ifndef QVT_TESTS_COMPRESSED_QVT_COMPRESSEDTESTSUPPORT_H
#define QVT_TESTS_COMPRESSED_QVT_COMPRESSEDTESTSUPPORT_H

#include <cstdint>
#include <random>
#include <vector>

namespace qvt_ctest {

constexpr std::int64_t kSector = 4096;
constexpr int kS = 65536;  // the default segment size
using Bytes = std::vector<char>;
using Words = std::vector<std::uint32_t>;

inline std::uint32_t LE32(const std::vector<unsigned char>& b, std::size_t o) {
  return static_cast<std::uint32_t>(b.at(o)) | static_cast<std::uint32_t>(b.at(o + 1)) << 8 |
         static_cast<std::uint32_t>(b.at(o + 2)) << 16 | static_cast<std::uint32_t>(b.at(o + 3)) << 24;
}

// The little-endian words at offsets of bytes.
inline Words At(const std::vector<unsigned char>& bytes, const std::vector<std::int64_t>& offsets) {
  Words words;
  for (const std::int64_t o : offsets) words.push_back(LE32(bytes, static_cast<std::size_t>(o)));
  return words;
}

// Runs of a few letters and digits, as database pages of numbers and names:
// they compress to roughly a third.
inline Bytes CompressibleBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  std::size_t i = 0;
  while (i < size) {
    const int run = static_cast<int>(rng() % 12) + 1;
    const char c = static_cast<char>('0' + rng() % 40);
    for (int k = 0; k < run && i < size; ++k) out[i++] = c;
  }
  return out;
}

}  // namespace qvt_ctest

#endif  // QVT_TESTS_COMPRESSED_QVT_COMPRESSEDTESTSUPPORT_H
