// Byte-order converter. EndianType 1 (database files) is big-endian,
// EndianType 0 (the assistant pipe protocol) little-endian. The converter
// holds one flag: whether external data must be swapped on this machine.
// Conversions are built from shifts, never from casts onto raw bytes.
#ifndef QVT_FOUNDATION_OMI_SWAPPER_H
#define QVT_FOUNDATION_OMI_SWAPPER_H

#include <cstddef>
#include <cstdint>

enum EndianType { EndianLittle = 0, EndianBig = 1 };

class omi_Swapper {
 public:
  explicit omi_Swapper(int endianType = EndianBig);

  // True when values are swapped between machine order and external order.
  bool MustSwap() const { return m_Swap; }

 private:
  bool m_Swap;
};

namespace omi_SwapperGuts {
// Converts count units of unitSize (4 or 8) bytes from machine order at src
// to external order at dst (src and dst may be the same buffer).
void ExternalizeArray(bool swap, const void* src, void* dst, std::size_t count, std::size_t unitSize);
// The reverse direction; the same operation, named for the reader.
void InternalizeArray(bool swap, const void* src, void* dst, std::size_t count, std::size_t unitSize);
// Copies bytes when no swap is needed.
void CopyBytes(const void* src, void* dst, std::size_t bytes);
}  // namespace omi_SwapperGuts

// Fixed-order encoders for single values, for layouts whose byte order is
// given once and for all (the compressed container, the pipe protocol).
namespace omi_Bytes {
inline void PutLE32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline std::uint32_t GetLE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void PutBE32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
inline std::uint32_t GetBE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline void PutLE64(unsigned char* p, std::uint64_t v) {
  PutLE32(p, static_cast<std::uint32_t>(v));
  PutLE32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline std::uint64_t GetLE64(const unsigned char* p) {
  return static_cast<std::uint64_t>(GetLE32(p)) | static_cast<std::uint64_t>(GetLE32(p + 4)) << 32;
}
inline void PutBE64(unsigned char* p, std::uint64_t v) {
  PutBE32(p, static_cast<std::uint32_t>(v >> 32));
  PutBE32(p + 4, static_cast<std::uint32_t>(v));
}
inline std::uint64_t GetBE64(const unsigned char* p) {
  return static_cast<std::uint64_t>(GetBE32(p)) << 32 | static_cast<std::uint64_t>(GetBE32(p + 4));
}
}  // namespace omi_Bytes

#endif  // QVT_FOUNDATION_OMI_SWAPPER_H
