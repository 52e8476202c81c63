// Byte-order detection and array conversion.
#include "omi_Swapper.h"

#include <cstring>

namespace {
bool MachineIsLittleEndian() {
  const std::uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}
}  // namespace

omi_Swapper::omi_Swapper(int endianType)
    : m_Swap(endianType == EndianBig ? MachineIsLittleEndian() : !MachineIsLittleEndian()) {}

namespace omi_SwapperGuts {

void ExternalizeArray(bool swap, const void* src, void* dst, std::size_t count, std::size_t unitSize) {
  if (!swap) {
    if (src != dst) std::memmove(dst, src, count * unitSize);
    return;
  }
  const unsigned char* s = static_cast<const unsigned char*>(src);
  unsigned char* d = static_cast<unsigned char*>(dst);
  if (unitSize == 4) {
    for (std::size_t i = 0; i < count; ++i, s += 4, d += 4) {
      std::uint32_t v;
      std::memcpy(&v, s, 4);
      v = __builtin_bswap32(v);
      std::memcpy(d, &v, 4);
    }
  } else {
    for (std::size_t i = 0; i < count; ++i, s += 8, d += 8) {
      std::uint64_t v;
      std::memcpy(&v, s, 8);
      v = __builtin_bswap64(v);
      std::memcpy(d, &v, 8);
    }
  }
}

void InternalizeArray(bool swap, const void* src, void* dst, std::size_t count, std::size_t unitSize) {
  ExternalizeArray(swap, src, dst, count, unitSize);
}

void CopyBytes(const void* src, void* dst, std::size_t bytes) { std::memmove(dst, src, bytes); }

}  // namespace omi_SwapperGuts
