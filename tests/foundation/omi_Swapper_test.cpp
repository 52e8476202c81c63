// Byte-order conversion: database files big-endian, the pipe protocol
// little-endian; arrays of 32- and 64-bit units.
#include "omi_Swapper.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Externalize(int endianType, const void* values, std::size_t count, std::size_t unit) {
  Bytes out(count * unit);
  omi_SwapperGuts::ExternalizeArray(omi_Swapper(endianType).MustSwap(), values, out.data(), count, unit);
  return out;
}

TEST(Swapper, BigEndianStoresMostSignificantByteFirstLittleTheLeast) {
  EXPECT_NE(omi_Swapper(EndianBig).MustSwap(), omi_Swapper(EndianLittle).MustSwap());
  const std::int32_t ints[2] = {0x01020304, -2};
  EXPECT_EQ(Externalize(EndianBig, ints, 2, 4), (Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(Externalize(EndianLittle, ints, 1, 4), (Bytes{4, 3, 2, 1}));
  const double d = 1.0;  // 3FF0000000000000, swapped as one 64-bit unit
  EXPECT_EQ(Externalize(EndianBig, &d, 1, 8), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  const std::int64_t big = 0x0102030405060708LL;
  EXPECT_EQ(Externalize(EndianBig, &big, 1, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Externalize(EndianLittle, &big, 1, 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
}

// Arrays are converted 16 bytes at a time and the rest unit by unit: every
// count around and across those steps, at unaligned addresses, copied and in
// place, gives each unit's bytes reversed and leaves the bytes around alone.
TEST(Swapper, EveryCountAndAlignmentReversesEachUnit) {
  for (std::size_t unit : {std::size_t{4}, std::size_t{8}}) {
    for (std::size_t count = 0; count <= 21; ++count) {
      for (std::size_t offset = 0; offset < 3; ++offset) {
        SCOPED_TRACE("unit " + std::to_string(unit) + " count " + std::to_string(count) + " offset " +
                     std::to_string(offset));
        const std::size_t bytes = count * unit;
        Bytes source(bytes + 2 * offset + 1);
        for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 37 + 11);
        Bytes expected = source;
        for (std::size_t u = 0; u < count; ++u) {
          for (std::size_t b = 0; b < unit; ++b)
            expected[offset + u * unit + b] = source[offset + u * unit + unit - 1 - b];
        }
        Bytes copied(source.size(), 0xAA);
        omi_SwapperGuts::ExternalizeArray(true, source.data() + offset, copied.data() + offset, count, unit);
        for (std::size_t i = 0; i < copied.size(); ++i) {
          const bool inside = i >= offset && i < offset + bytes;
          ASSERT_EQ(copied[i], inside ? expected[i] : 0xAA) << "byte " << i;
        }
        Bytes inPlace = source;
        unsigned char* at = inPlace.data() + offset;
        omi_SwapperGuts::InternalizeArray(true, at, at, count, unit);
        ASSERT_EQ(inPlace, expected);
      }
    }
  }
}

TEST(Swapper, FixedOrderHelpersMatchTheirNames) {
  unsigned char b[8];
  omi_Bytes::PutBE32(b, 0xA1B2C3D4u);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
  EXPECT_EQ(omi_Bytes::GetBE32(b), 0xA1B2C3D4u);
  omi_Bytes::PutLE32(b, 0xA1B2C3D4u);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xD4, 0xC3, 0xB2, 0xA1}));
  EXPECT_EQ(omi_Bytes::GetLE32(b), 0xA1B2C3D4u);
  omi_Bytes::PutBE64(b, 0x0102030405060708ull);
  EXPECT_EQ(Bytes(b, b + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(omi_Bytes::GetBE64(b), 0x0102030405060708ull);
  omi_Bytes::PutLE64(b, 0x0102030405060708ull);
  EXPECT_EQ(Bytes(b, b + 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(omi_Bytes::GetLE64(b), 0x0102030405060708ull);
}

}  // namespace
