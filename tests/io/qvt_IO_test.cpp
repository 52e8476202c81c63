// Typed stream operations: external byte order of ints, floats and doubles,
// fixed-width strings, pooled strings, partial reads at the end, the four
// messages, and at most one scratch allocation per call (none for scalars).
#include "qvt_IO.h"

#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "nex_Exception.h"
#include "qvt_AllocationCounter.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

QVT_DEFINE_ALLOCATION_COUNTER()

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
  const Bytes expected = {0,    0,    0,    1,    0xFF, 0xFF, 0xFF, 0xFE, 0xC0, 0x20, 0, 0, 0xBF, 0xB9,
                          0x99, 0x99, 0x99, 0x99, 0x99, 0x9A, 0,    0,    0,    1,    0, 0, 0,    2,
                          0,    0,    0,    3,    0x3F, 0x80, 0,    0,    0x40, 0,    0, 0, 0x40, 0,
                          0,    0,    0,    0,    0,    0,    0xC0, 0,    0,    0,    0, 0, 0,    0};
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
  EXPECT_EQ((std::vector<double>{double(i[0]), double(i[2]), f[1], d[1]}),
            (std::vector<double>{1, 3, 2, -2}));

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
  EXPECT_EQ((std::vector<int>(got, got + 3)),
            (std::vector<int>{0x00070000, 0x00080000, -1}));  // 00 07 00 00 ...
  io.Seek(4);
  double d[2] = {5.0, 6.0};
  EXPECT_EQ(io.ReadDoubleArray(d, 2), 1);  // 8 whole bytes of 8 remaining
  EXPECT_EQ(d[1], 6.0);
  io.Seek(8);
  QVT_EXPECT_THROW_TEXT(io.ReadDouble(), nex_TextException, kEof);  // 4 bytes are not a double
}

// Bad arguments, for every typed array and pooled strings, are refused
// before any transfer: a null array, a count below one, and a count whose
// byte count does not fit a raw transfer.
TEST(TypedStream, BadArrayArgumentsAreRefusedBeforeAnyTransfer) {
  MemoryIOS io;
  int i = 0;
  float f = 0;
  double d = 0;
  cow_String s;
  using Call = std::function<void(int count, bool null)>;
  const Call calls[] = {
      [&](int n, bool null) { io.ReadIntArray(null ? nullptr : &i, n); },
      [&](int n, bool null) { io.ReadFloatArray(null ? nullptr : &f, n); },
      [&](int n, bool null) { io.ReadDoubleArray(null ? nullptr : &d, n); },
      [&](int n, bool null) { io.ReadStringArray(null ? nullptr : &s, n); },
      [&](int n, bool null) { io.WriteIntArray(null ? nullptr : &i, n); },
      [&](int n, bool null) { io.WriteFloatArray(null ? nullptr : &f, n); },
      [&](int n, bool null) { io.WriteDoubleArray(null ? nullptr : &d, n); },
      [&](int n, bool null) { io.WriteStringArray(null ? nullptr : &s, n); },
  };
  for (const Call& call : calls) {
    QVT_EXPECT_THROW_TEXT(call(1, true), nex_TextException, kPointer);
    for (int count : {0, -1, INT_MIN}) QVT_EXPECT_THROW_TEXT(call(count, false), nex_TextException, kLength);
  }
  QVT_EXPECT_THROW_TEXT(io.ReadIntArray(&i, INT_MAX / 4 + 1), nex_TextException, kLength);
  QVT_EXPECT_THROW_TEXT(io.WriteDoubleArray(&d, INT_MAX / 8 + 1), nex_TextException, kLength);
  QVT_EXPECT_THROW_TEXT(io.ReadStringArray(&s, INT_MAX / 8 + 1), nex_TextException, kLength);
  EXPECT_EQ(io.Reads() + io.Writes(), 0);
  EXPECT_TRUE(io.Bytes().empty());
  EXPECT_TRUE(io.Pool().Strings().empty());
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
  io.LimitWritesFrom(1, 7);
  QVT_EXPECT_THROW_TEXT(io.WriteString("abc"), nex_TextException, kWriteFailed);
  const cow_String two[2] = {"a", "b"};
  QVT_EXPECT_THROW_TEXT(io.WriteStringArray(two, 2), nex_TextException, kWriteFailed);
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

// Equal pooled strings share one 8-byte reference; a partial reference at
// the end is not delivered.
TEST(TypedStream, PooledStringsShareReferences) {
  MemoryIOS io;
  cow_String s = "untouched";
  EXPECT_EQ(io.ReadStringArray(&s, 1), 0);  // at the end: nothing, without message
  EXPECT_EQ(s, "untouched");
  const cow_String strings[3] = {"abc", "de", "abc"};
  io.WriteStringArray(strings, 3);
  io.WriteString("de");
  EXPECT_EQ(io.Writes(), 2);
  ASSERT_EQ(io.Pool().Strings().size(), 2u);
  const Bytes expected = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2,
                          0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2};
  EXPECT_EQ(io.Bytes(), expected);
  io.Seek(0);
  cow_String got[3];
  EXPECT_EQ(io.ReadStringArray(got, 3), 3);
  EXPECT_EQ((std::vector<cow_String>(got, got + 3)), (std::vector<cow_String>(strings, strings + 3)));
  EXPECT_EQ(io.ReadString(), "de");
  EXPECT_EQ(io.Reads(), 3);  // the read at the end counts
  io.Bytes().resize(12);     // one whole reference and a half
  io.Seek(0);
  cow_String two[2] = {"keep0", "keep1"};
  EXPECT_EQ(io.ReadStringArray(two, 2), 1);
  EXPECT_EQ(two[0], "abc");
  EXPECT_EQ(two[1], "keep1");
  QVT_EXPECT_THROW_TEXT(io.ReadString(), nex_TextException, kEof);
}

using qvt_test::AllocationCount;

TEST(TypedStreamCost, ArrayCallsAllocateOnceAndScalarsNever) {
  qvt_test::MemoryIOS io;
  std::vector<double> values(10000, 1.5);
  std::vector<cow_String> strings(100, "same");
  io.WriteStringArray(strings.data(), 100);  // fills the pool once
  io.Bytes().reserve(200000);                // the stream's own growth is not measured
  const std::pair<int, std::function<void()>> calls[] = {
      {1, [&] { io.WriteDoubleArray(values.data(), 10000); }},
      {1, [&] { io.WriteStringArray(strings.data(), 100); }},
      {0,
       [&] {
         io.WriteInt(1);
         io.WriteFloat(2.0f);
         io.WriteDouble(3.0);
         io.WriteFixedString("abc", 8);
       }},
      {0, [&] { io.Seek(800); }},
      {1, [&] { EXPECT_EQ(io.ReadDoubleArray(values.data(), 10000), 10000); }},
      {0,
       [&] {
         io.ReadInt();
         io.ReadFloat();
         io.ReadDouble();
       }},
  };
  for (const auto& call : calls) {
    const long before = AllocationCount();
    call.second();
    EXPECT_EQ(AllocationCount() - before, call.first);
  }
  EXPECT_EQ(io.Reads(), 4);
}

}  // namespace
