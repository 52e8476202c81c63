// Typed stream operations: external byte order of ints, floats and doubles,
// fixed-width strings, partial reads at the end, and the four messages.
#include "qvt_IO.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>

#include "nex_Exception.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::MemoryIOS;
using Bytes = std::vector<unsigned char>;

const char kPointer[] = "***ERROR: Invalid array pointer.";
const char kLength[] = "***ERROR: Invalid length when reading array.";
const char kWriteFailed[] = "***ERROR: Write operation failed.";
const char kEof[] = "***ERROR: Unexpected End Of File.";

bool MachineIsLittleEndian() {
  const int one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// Scalars and arrays (one transfer each) are big-endian whatever the
// machine; a converter with its flag clear stores the machine's order.
TEST(TypedStream, DatabaseOrderIsBigEndianWhateverTheMachine) {
  MemoryIOS io;
  io.WriteInt(1);
  io.WriteInt(-2);
  io.WriteFloat(-2.5f);
  io.WriteDouble(-0.1);
  const int ints[3] = {1, 2, 3};
  const float floats[2] = {1.0f, 2.0f};
  const double doubles[2] = {2.0, -2.0};
  io.WriteIntArray(ints, 3);
  io.WriteFloatArray(floats, 2);
  io.WriteDoubleArray(doubles, 2);
  EXPECT_EQ(io.Writes(), 7);
  const Bytes expected = {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE, 0xC0, 0x20, 0, 0, 0xBF, 0xB9, 0x99, 0x99, 0x99, 0x99,
                          0x99, 0x9A, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0x3F, 0x80, 0, 0, 0x40, 0, 0, 0,
                          0x40, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(io.Bytes(), expected);
  io.Seek(0);
  EXPECT_EQ(io.ReadInt(), 1);
  EXPECT_EQ(io.ReadInt(), -2);
  EXPECT_EQ(io.ReadFloat(), -2.5f);
  EXPECT_EQ(io.ReadDouble(), -0.1);
  int i[3];
  float f[2];
  double d[2];
  EXPECT_EQ(io.ReadIntArray(i, 3), 3);
  EXPECT_EQ(io.ReadFloatArray(f, 2), 2);
  EXPECT_EQ(io.ReadDoubleArray(d, 2), 2);
  EXPECT_EQ(io.Reads(), 7);
  EXPECT_EQ((std::vector<double>{double(i[0]), double(i[2]), f[1], d[1]}), (std::vector<double>{1, 3, 2, -2}));

  MemoryIOS native(MachineIsLittleEndian() ? EndianLittle : EndianBig);
  ASSERT_FALSE(native.MustSwap());
  native.WriteInt(0x01020304);
  native.WriteDouble(1.0);
  Bytes machine(12);
  const int value = 0x01020304;
  const double one = 1.0;
  std::memcpy(machine.data(), &value, 4);
  std::memcpy(machine.data() + 4, &one, 8);
  EXPECT_EQ(native.Bytes(), machine);
  native.Seek(0);
  EXPECT_EQ(native.ReadInt(), 0x01020304);
  EXPECT_EQ(native.ReadDouble(), 1.0);
}

// Arrays deliver whole elements and leave the rest untouched; at the end
// scalars fail, arrays answer 0.
TEST(TypedStream, PartialLastElementIsDroppedAndEndFailsOnlyScalars) {
  MemoryIOS io;
  int v = 42;
  EXPECT_EQ(io.ReadIntArray(&v, 1), 0);
  EXPECT_EQ(v, 42);
  QVT_EXPECT_THROW_TEXT(io.ReadInt(), nex_TextException, kEof);
  QVT_EXPECT_THROW_TEXT(io.ReadFloat(), nex_TextException, kEof);
  QVT_EXPECT_THROW_TEXT(io.ReadDouble(), nex_TextException, kEof);
  const int values[3] = {7, 8, 9};
  io.WriteIntArray(values, 3);
  io.Seek(2);  // 10 bytes remain
  int got[3] = {-1, -1, -1};
  EXPECT_EQ(io.ReadIntArray(got, 3), 2);
  EXPECT_EQ((std::vector<int>(got, got + 3)), (std::vector<int>{0x00070000, 0x00080000, -1}));  // 00 07 00 00 ...
  io.Seek(4);
  double d[2] = {5.0, 6.0};
  EXPECT_EQ(io.ReadDoubleArray(d, 2), 1);  // 8 whole bytes of 8 remaining
  EXPECT_EQ(d[1], 6.0);
  io.Seek(8);
  QVT_EXPECT_THROW_TEXT(io.ReadDouble(), nex_TextException, kEof);  // 4 bytes are not a double
}

TEST(TypedStream, BadArrayArgumentsAreRefusedBeforeAnyTransfer) {
  MemoryIOS io;
  int i = 0;
  float f = 0;
  double d = 0;
  QVT_EXPECT_THROW_TEXT(io.ReadIntArray(nullptr, 1), nex_TextException, kPointer);
  QVT_EXPECT_THROW_TEXT(io.ReadFloatArray(nullptr, 1), nex_TextException, kPointer);
  QVT_EXPECT_THROW_TEXT(io.ReadDoubleArray(nullptr, 1), nex_TextException, kPointer);
  QVT_EXPECT_THROW_TEXT(io.WriteIntArray(nullptr, 1), nex_TextException, kPointer);
  QVT_EXPECT_THROW_TEXT(io.WriteFloatArray(nullptr, 1), nex_TextException, kPointer);
  QVT_EXPECT_THROW_TEXT(io.WriteDoubleArray(nullptr, 1), nex_TextException, kPointer);
  for (int count : {0, -1, INT_MIN}) {
    QVT_EXPECT_THROW_TEXT(io.ReadIntArray(&i, count), nex_TextException, kLength);
    QVT_EXPECT_THROW_TEXT(io.ReadFloatArray(&f, count), nex_TextException, kLength);
    QVT_EXPECT_THROW_TEXT(io.ReadDoubleArray(&d, count), nex_TextException, kLength);
    QVT_EXPECT_THROW_TEXT(io.WriteIntArray(&i, count), nex_TextException, kLength);
    QVT_EXPECT_THROW_TEXT(io.WriteFloatArray(&f, count), nex_TextException, kLength);
    QVT_EXPECT_THROW_TEXT(io.WriteDoubleArray(&d, count), nex_TextException, kLength);
  }
  // A count whose byte count does not fit a raw transfer is as invalid.
  QVT_EXPECT_THROW_TEXT(io.ReadIntArray(&i, INT_MAX / 4 + 1), nex_TextException, kLength);
  QVT_EXPECT_THROW_TEXT(io.WriteDoubleArray(&d, INT_MAX / 8 + 1), nex_TextException, kLength);
  EXPECT_EQ(io.Reads(), 0);
  EXPECT_EQ(io.Writes(), 0);
  EXPECT_TRUE(io.Bytes().empty());
}

TEST(TypedStream, ShortWriteIsReported) {
  MemoryIOS io;
  io.LimitWritesFrom(1, 3);
  const int ints[2] = {1, 2};
  QVT_EXPECT_THROW_TEXT(io.WriteIntArray(ints, 2), nex_TextException, kWriteFailed);
  QVT_EXPECT_THROW_TEXT(io.WriteInt(1), nex_TextException, kWriteFailed);
  QVT_EXPECT_THROW_TEXT(io.WriteFloat(1), nex_TextException, kWriteFailed);
  QVT_EXPECT_THROW_TEXT(io.WriteDouble(1), nex_TextException, kWriteFailed);
  QVT_EXPECT_THROW_TEXT(io.WriteFixedString("abcd", 4), nex_TextException, kWriteFailed);
}

// Fixed strings are padded with zeros and cut at their width; no width
// moves nothing; too few bytes are an end of file, even for a large width.
TEST(TypedStream, FixedStringsPadCutAndEnd) {
  MemoryIOS io;
  io.WriteFixedString("abc", 0);
  io.WriteFixedString("abc", -5);
  EXPECT_TRUE(io.Bytes().empty());
  io.WriteFixedString("abc", 8);
  io.WriteFixedString("0123456789", 4);
  io.WriteFixedString("", 3);
  io.WriteFixedString("wxyz", 4);  // fills the width: no terminator
  const Bytes expected = {'a', 'b', 'c', 0, 0, 0, 0, 0, '0', '1', '2', '3', 0, 0, 0, 'w', 'x', 'y', 'z'};
  EXPECT_EQ(io.Bytes(), expected);
  io.Seek(0);
  const int reads = io.Reads();
  EXPECT_EQ(io.ReadFixedString(0), "");
  EXPECT_EQ(io.ReadFixedString(-1), "");
  EXPECT_EQ(io.Reads(), reads);
  EXPECT_EQ(io.Location(), 0);
  for (const auto& w : {std::make_pair(8, "abc"), std::make_pair(4, "0123"), std::make_pair(3, ""),
                        std::make_pair(4, "wxyz")})
    EXPECT_EQ(io.ReadFixedString(w.first), w.second);
  io.Seek(15);
  QVT_EXPECT_THROW_TEXT(io.ReadFixedString(5), nex_TextException, kEof);
  io.Seek(0);
  QVT_EXPECT_THROW_TEXT(io.ReadFixedString(1 << 20), nex_TextException, kEof);
}

TEST(TypedStream, SeededRandomValuesRoundTrip) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  MemoryIOS io;
  std::vector<int> kinds;
  std::vector<std::uint64_t> raw;
  for (int n = 0; n < 500; ++n) {
    const int kind = static_cast<int>(rng() % 4);
    const std::uint64_t bits = static_cast<std::uint64_t>(rng()) << 32 | rng();
    kinds.push_back(kind);
    raw.push_back(bits);
    switch (kind) {
      case 0:
        io.WriteInt(static_cast<int>(bits));
        break;
      case 1: {
        float f;
        const std::uint32_t b = static_cast<std::uint32_t>(bits) & 0xBFFFFFFFu;  // never a NaN
        std::memcpy(&f, &b, 4);
        io.WriteFloat(f);
        break;
      }
      case 2: {
        double d;
        const std::uint64_t b = bits & 0xBFFFFFFFFFFFFFFFull;
        std::memcpy(&d, &b, 8);
        io.WriteDouble(d);
        break;
      }
      default:
        io.WriteFixedString(std::string(bits % 13, static_cast<char>('a' + bits % 26)), 12);
    }
  }
  io.Seek(0);
  for (std::size_t n = 0; n < kinds.size(); ++n) {
    const std::uint64_t bits = raw[n];
    switch (kinds[n]) {
      case 0:
        EXPECT_EQ(io.ReadInt(), static_cast<int>(bits));
        break;
      case 1: {
        const float f = io.ReadFloat();
        std::uint32_t b;
        std::memcpy(&b, &f, 4);
        EXPECT_EQ(b, static_cast<std::uint32_t>(bits) & 0xBFFFFFFFu);
        break;
      }
      case 2: {
        const double d = io.ReadDouble();
        std::uint64_t b;
        std::memcpy(&b, &d, 8);
        EXPECT_EQ(b, bits & 0xBFFFFFFFFFFFFFFFull);
        break;
      }
      default:
        EXPECT_EQ(io.ReadFixedString(12), std::string(std::min<std::uint64_t>(bits % 13, 12), 'a' + bits % 26));
    }
  }
  EXPECT_EQ(io.Location(), io.Length());
}

}  // namespace
