// Byte-order detection and array conversion.
//
// Arrays are converted 16 bytes at a time, written for the compiler's
// vectorizer: each unit is reversed as 16-bit moves (every half rotated by 8,
// the halves stored in mirrored order), which GCC at -O2 turns into one load,
// SSE2 shifts and word shuffles, and one store. A __builtin_bswap loop stays
// one unit per step on x86-64 without SSSE3: four to five times slower for
// 32-bit units. Where the processor has AVX2 (asked once, at start), 32-byte
// blocks go through one byte shuffle each instead: twice as fast again, and
// the conversion is most of what a large array write adds to the copy.
#include "omi_Swapper.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

bool MachineIsLittleEndian() {
  const std::uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// Bytes converted per step: one 16-byte vector register.
constexpr std::size_t kGroupBytes = 16;
constexpr int kHalves = kGroupBytes / 2;

inline std::uint16_t Load16(const unsigned char* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

inline void Store16(unsigned char* p, std::uint16_t v) { std::memcpy(p, &v, 2); }

inline std::uint16_t Rotate8(std::uint16_t v) { return static_cast<std::uint16_t>(v << 8 | v >> 8); }

// Reverses the units of one 16-byte group from s to d: half k of d is half
// Hk of s with its two bytes exchanged. Every half is read before any is
// written, so s and d may be the same group, and the compiler does the whole
// group as one load, five vector operations and one store. The places are
// template constants: an index computed in a loop hides the pattern.
template <int H0, int H1, int H2, int H3, int H4, int H5, int H6, int H7>
inline void ReverseGroup(const unsigned char* s, unsigned char* d) {
  std::uint16_t h[kHalves];
  for (int k = 0; k < kHalves; ++k) h[k] = Load16(s + 2 * k);
  Store16(d + 0, Rotate8(h[H0]));
  Store16(d + 2, Rotate8(h[H1]));
  Store16(d + 4, Rotate8(h[H2]));
  Store16(d + 6, Rotate8(h[H3]));
  Store16(d + 8, Rotate8(h[H4]));
  Store16(d + 10, Rotate8(h[H5]));
  Store16(d + 12, Rotate8(h[H6]));
  Store16(d + 14, Rotate8(h[H7]));
}

// One unit at a time: the tail of an array, and the many single values.
template <class Word>
void ReverseUnits(const unsigned char* s, unsigned char* d, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, s += sizeof(Word), d += sizeof(Word)) {
    Word v;
    std::memcpy(&v, s, sizeof v);
    if constexpr (sizeof(Word) == 4) {
      v = __builtin_bswap32(v);
    } else {
      v = __builtin_bswap64(v);
    }
    std::memcpy(d, &v, sizeof v);
  }
}

// Whole groups first, then the rest unit by unit.
template <class Word, void (*ReverseGroup)(const unsigned char*, unsigned char*)>
void Reverse(const unsigned char* s, unsigned char* d, std::size_t count) {
  constexpr std::size_t kPerGroup = kGroupBytes / sizeof(Word);
  for (; count >= kPerGroup; count -= kPerGroup, s += kGroupBytes, d += kGroupBytes) {
    ReverseGroup(s, d);
  }
  ReverseUnits<Word>(s, d, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define QVT_SWAPPER_AVX2 1
// The byte shuffles: every unit's bytes reversed within each 16-byte lane.
alignas(32) constexpr unsigned char kReverse4[32] = {3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                                     3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12};
alignas(32) constexpr unsigned char kReverse8[32] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                                     7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};

// Compiled for AVX2 only; called only when the processor has it, and only
// for at least one block: a call costs more than a few units' conversion.
// Each 32-byte block is loaded before it is stored, so s and d may be the
// same. The remainder, under one block, goes the portable way.
template <class Word, void (*ReverseGroup)(const unsigned char*, unsigned char*)>
__attribute__((target("avx2"))) void ReverseAvx2(const unsigned char* s, unsigned char* d,
                                                 std::size_t count) {
  constexpr std::size_t kBlock = 32;
  constexpr std::size_t kPerBlock = kBlock / sizeof(Word);
  const __m256i mask =
      _mm256_load_si256(reinterpret_cast<const __m256i*>(sizeof(Word) == 4 ? kReverse4 : kReverse8));
  for (; count >= kPerBlock; count -= kPerBlock, s += kBlock, d += kBlock) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_shuffle_epi8(v, mask));
  }
  // Upper register halves left in use slow every later SSE instruction of
  // the process; the compiler does not clear them before the tail call.
  _mm256_zeroupper();
  Reverse<Word, ReverseGroup>(s, d, count);
}

bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

// A conversion from a constructor that runs before this one takes the
// portable way, which gives the same bytes.
const bool kHasAvx2 = ProcessorHasAvx2();
#endif

}  // namespace

omi_Swapper::omi_Swapper(int endianType)
    : m_Swap(endianType == EndianBig ? MachineIsLittleEndian() : !MachineIsLittleEndian()) {}

namespace omi_SwapperGuts {

void ExternalizeArray(bool swap, const void* src, void* dst, std::size_t count, std::size_t unitSize) {
  if (!swap) {
    if (src != dst) std::memmove(dst, src, count * unitSize);
    return;
  }
  const auto* s = static_cast<const unsigned char*>(src);
  auto* d = static_cast<unsigned char*>(dst);
#ifdef QVT_SWAPPER_AVX2
  if (kHasAvx2 && count * unitSize >= 32) {
    if (unitSize == 4) {
      ReverseAvx2<std::uint32_t, ReverseGroup<1, 0, 3, 2, 5, 4, 7, 6>>(s, d, count);
    } else {
      ReverseAvx2<std::uint64_t, ReverseGroup<3, 2, 1, 0, 7, 6, 5, 4>>(s, d, count);
    }
    return;
  }
#endif
  if (unitSize == 4) {
    Reverse<std::uint32_t, ReverseGroup<1, 0, 3, 2, 5, 4, 7, 6>>(s, d, count);
  } else {
    Reverse<std::uint64_t, ReverseGroup<3, 2, 1, 0, 7, 6, 5, 4>>(s, d, count);
  }
}

void InternalizeArray(bool swap, const void* src, void* dst, std::size_t count, std::size_t unitSize) {
  ExternalizeArray(swap, src, dst, count, unitSize);
}

void CopyBytes(const void* src, void* dst, std::size_t bytes) { std::memmove(dst, src, bytes); }

}  // namespace omi_SwapperGuts
