// Helpers for the compressed-file tests: little-endian words in raw file
// bytes, a codec that counts its calls, and seeded compressible data.
#ifndef QVT_TESTS_COMPRESSED_QVT_COMPRESSEDTESTSUPPORT_H
#define QVT_TESTS_COMPRESSED_QVT_COMPRESSEDTESTSUPPORT_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "qvt_CodecZip.h"
#include "qvt_TestSupport.h"

namespace qvt_ctest {

constexpr std::int64_t kSector = 4096;

inline std::uint32_t LE32(const std::vector<unsigned char>& b, std::size_t o) {
  return static_cast<std::uint32_t>(b.at(o)) | static_cast<std::uint32_t>(b.at(o + 1)) << 8 |
         static_cast<std::uint32_t>(b.at(o + 2)) << 16 | static_cast<std::uint32_t>(b.at(o + 3)) << 24;
}

// Rewrites one little-endian word of a file in place.
inline void PokeLE32(const std::string& path, std::size_t offset, std::uint32_t value) {
  std::vector<unsigned char> bytes = qvt_test::ReadAll(path);
  for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
  qvt_test::WriteAll(path, bytes);
}

// Bytes that compress to roughly a third: runs of a few letters and digits,
// as database pages of numbers and names do.
inline std::vector<char> CompressibleBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<char> out(size);
  std::size_t i = 0;
  while (i < size) {
    const int run = static_cast<int>(rng() % 12) + 1;
    const char c = static_cast<char>('0' + rng() % 40);
    for (int k = 0; k < run && i < size; ++k) out[i++] = c;
  }
  return out;
}

// The zlib codec, counting its calls.
class CountingCodec : public qvt_CodecZip {
 public:
  CountingCodec(int* encodes, int* decodes) : m_Encodes(encodes), m_Decodes(decodes) {}
  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override {
    ++*m_Encodes;
    qvt_CodecZip::Encode(out, in, length);
  }
  int Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) override {
    ++*m_Decodes;
    return qvt_CodecZip::Decode(out, in);
  }

 private:
  int* m_Encodes;
  int* m_Decodes;
};

}  // namespace qvt_ctest

#endif  // QVT_TESTS_COMPRESSED_QVT_COMPRESSEDTESTSUPPORT_H
