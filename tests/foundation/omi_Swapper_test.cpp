// Byte-order conversion: database files big-endian, the pipe protocol
// little-endian; arrays of 32- and 64-bit units.
#include "omi_Swapper.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

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

// The layouts the other tests check hold mostly small values, whose high
// bytes are zero, and none uses the little-endian 64-bit pair: here every
// byte differs.
TEST(Swapper, FixedOrderHelpersPutEveryByteInItsPlace) {
  unsigned char b[8];
  omi_Bytes::PutBE32(b, 0xA1B2C3D4u);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
  omi_Bytes::PutLE64(b, 0x0102030405060708ull);
  EXPECT_EQ(Bytes(b, b + 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(omi_Bytes::GetLE64(b), 0x0102030405060708ull);
}

}  // namespace
