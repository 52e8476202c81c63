// Typed stream operations: stored byte order, fixed and pooled strings, partial
// reads, refusals, scratch allocations; the I/O buffer: windows, when bytes reach
// the space, in-place conversion, Append into its own space, direct writes.
#include "qvt_IO.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_IOBuffer.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

// Every heap allocation of this executable, counted. The replacement pairs malloc with free on purpose; GCC
// cannot see that through the inlined operators.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<long> g_Allocations{0};
void* operator new(std::size_t size) {
  ++g_Allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using namespace qvt_test;
using Bytes = std::vector<unsigned char>;

const char kLength[] = "***ERROR: Invalid length when reading array.";
const char kWriteFailed[] = "***ERROR: Write operation failed.";
const char kQuantum[] = "qvt_IOBuffer::PrepWrite: Quantum is too large for buffer.";

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Big-endian unless the converter's flag is clear; fixed strings padded and
// cut at their width; equal pooled strings share one reference.
TEST(TypedStream, StoredBytesOfEveryKindAndReadingThemBack) {
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
  // "wxyz" fills its width: no terminator.
  for (const auto& w : {std::make_pair("abc", 0), std::make_pair("abc", 8), std::make_pair("0123456789", 4),
                        std::make_pair("", 3), std::make_pair("wxyz", 4)})
    io.WriteFixedString(w.first, w.second);
  const cow_String strings[3] = {"abc", "de", "abc"};
  io.WriteStringArray(strings, 3);
  io.WriteString("de");
  EXPECT_EQ(io.Writes(), 7 + 4 + 2);
  const std::string expected(
      "\0\0\0\1\xFF\xFF\xFF\xFE\xC0\x20\0\0\xBF\xB9\x99\x99\x99\x99\x99\x9A\0\0\0\1\0\0\0\2\0\0\0\3"
      "\x3F\x80\0\0\x40\0\0\0\x40\0\0\0\0\0\0\0\xC0\0\0\0\0\0\0\0abc\0\0\0\0\0"
      "0123\0\0\0wxyz",
      75);
  ASSERT_EQ(io.Bytes().size(), expected.size() + 32);
  EXPECT_EQ(std::string(io.Bytes().begin(), io.Bytes().begin() + 75), expected);
  EXPECT_EQ(io.Pool().Strings().size(), 2u);
  io.Seek(0);
  EXPECT_EQ(
      (std::vector<double>{double(io.ReadInt()), double(io.ReadInt()), io.ReadFloat(), io.ReadDouble()}),
      (std::vector<double>{1, -2, -2.5, -0.1}));
  int i[3];
  float f[2];
  double d[2];
  EXPECT_EQ((std::vector<int>{io.ReadIntArray(i, 3), io.ReadFloatArray(f, 2), io.ReadDoubleArray(d, 2)}),
            (std::vector<int>{3, 2, 2}));
  EXPECT_EQ((std::vector<double>{double(i[0]), double(i[2]), f[1], d[1]}),
            (std::vector<double>{1, 3, 2, -2}));
  EXPECT_EQ(io.ReadFixedString(-1), "");
  EXPECT_EQ(io.Reads(), 7);
  for (const auto& w : {std::make_pair(8, "abc"), std::make_pair(4, "0123"), std::make_pair(3, ""),
                        std::make_pair(4, "wxyz")})
    EXPECT_EQ(io.ReadFixedString(w.first), w.second);
  cow_String got[3];
  EXPECT_EQ(io.ReadStringArray(got, 3), 3);
  EXPECT_EQ((std::vector<cow_String>(got, got + 3)), (std::vector<cow_String>(strings, strings + 3)));
  EXPECT_EQ(io.ReadString(), "de");
  MemoryIOS little(EndianLittle), big(EndianBig);
  MemoryIOS& native = little.MustSwap() ? big : little;
  native.WriteIntArray(ints, 3);
  EXPECT_EQ(std::memcmp(native.Bytes().data(), ints, 12), 0);
  native.Seek(0);
  EXPECT_EQ(native.ReadInt(), 1);
}

// Arrays deliver whole elements only; at the end scalars and fixed strings fail, arrays answer 0.
TEST(TypedStream, PartialLastElementIsDroppedAndEndFailsOnlyScalars) {
  MemoryIOS io;
  int v = 42;
  EXPECT_EQ((std::vector<int>{io.ReadIntArray(&v, 1), v}), (std::vector<int>{0, 42}));
  ExpectEachThrows<nex_TextException>(kEof, {[&] { io.ReadInt(); }, [&] { io.ReadFloat(); }});
  const int values[3] = {7, 8, 9};
  io.WriteIntArray(values, 3);
  io.Seek(2);                 // 10 bytes remain
  int got[3] = {-1, -1, -1};  // 00 07 00 00 ...
  EXPECT_EQ((std::vector<int>{io.ReadIntArray(got, 3), got[0], got[1], got[2]}),
            (std::vector<int>{2, 0x00070000, 0x00080000, -1}));
  io.Seek(4);
  double d[2] = {5.0, 6.0};  // 8 bytes left
  EXPECT_EQ((std::vector<double>{double(io.ReadDoubleArray(d, 2)), d[1]}), (std::vector<double>{1, 6}));
  io.Seek(8);
  QVT_EXPECT_THROW_TEXT(io.ReadDouble(), nex_TextException, kEof);  // 4 bytes are not a double
  QVT_EXPECT_THROW_TEXT(io.ReadFixedString(5), nex_TextException, kEof);
  io.Seek(0);
  QVT_EXPECT_THROW_TEXT(io.ReadFixedString(1 << 20), nex_TextException, kEof);
  io.Seek(12);
  cow_String s = "untouched";
  EXPECT_EQ(io.ReadStringArray(&s, 1), 0);
  EXPECT_EQ(s, "untouched");
  const cow_String strings[2] = {"abc", "de"};
  io.WriteStringArray(strings, 2);
  io.Bytes().resize(12 + 12);  // one whole reference and a half
  io.Seek(12);
  cow_String two[2] = {"keep0", "keep1"};
  EXPECT_EQ(io.ReadStringArray(two, 2), 1);
  EXPECT_EQ((std::vector<cow_String>{two[0], two[1]}), (std::vector<cow_String>{"abc", "keep1"}));
  QVT_EXPECT_THROW_TEXT(io.ReadString(), nex_TextException, kEof);
}

// A null array, a count below one or too large a byte count is refused before
// any transfer; a short write is reported.
TEST(TypedStream, BadArgumentsAndShortWritesAreRefused) {
  MemoryIOS io;
  int i = 0;
  float f = 0;
  double d = 0;
  cow_String s;
  using Call = std::function<void(int count, bool null)>;  // paired with an element's stored size
#define QVT_CALL(method, value, size) \
  std::make_pair(size, Call([&](int n, bool null) { io.method(null ? nullptr : &value, n); }))
  const std::pair<int, Call> calls[] = {QVT_CALL(ReadIntArray, i, 4),     QVT_CALL(ReadFloatArray, f, 4),
                                        QVT_CALL(ReadDoubleArray, d, 8),  QVT_CALL(ReadStringArray, s, 8),
                                        QVT_CALL(WriteIntArray, i, 4),    QVT_CALL(WriteFloatArray, f, 4),
                                        QVT_CALL(WriteDoubleArray, d, 8), QVT_CALL(WriteStringArray, s, 8)};
#undef QVT_CALL
  for (const auto& [size, call] : calls) {
    QVT_EXPECT_THROW_TEXT(call(1, true), nex_TextException, kPointer);
    for (int count : {0, -1, INT_MIN, INT_MAX / size + 1})
      QVT_EXPECT_THROW_TEXT(call(count, false), nex_TextException, kLength);
  }
  EXPECT_EQ((std::vector<std::size_t>{static_cast<std::size_t>(io.Reads() + io.Writes()), io.Bytes().size(),
                                      io.Pool().Strings().size()}),
            std::vector<std::size_t>(3, 0));
  io.LimitWritesFrom(1, 3);
  const int ints[2] = {1, 2};
  QVT_EXPECT_THROW_TEXT(io.WriteIntArray(ints, 2), nex_TextException, kWriteFailed);
  QVT_EXPECT_THROW_TEXT(io.WriteFixedString("abcd", 4), nex_TextException, kWriteFailed);
  io.LimitWritesFrom(1, 7);
  const cow_String two[2] = {"a", "b"};
  QVT_EXPECT_THROW_TEXT(io.WriteStringArray(two, 2), nex_TextException, kWriteFailed);
  // A read that claims more bytes than it was asked for is not believed.
  struct Overclaiming : MemoryIOS {
    int Read(char*, int count) override { return count + 1; }
  } liar;
  const char kClaim[] = "bytesRead >= 0 && bytesRead <= byteCount";
  QVT_EXPECT_THROW_TEXT(liar.ReadIntArray(&i, 1), nex_AssertException, kClaim);
  QVT_EXPECT_THROW_TEXT(liar.ReadFixedString(4), nex_AssertException, kClaim);
}

// Array calls make one scratch allocation, scalars none.
TEST(TypedStreamCost, ArrayCallsAllocateOnceAndScalarsNever) {
  MemoryIOS io;
  std::vector<double> values(10000, 1.5);
  std::vector<cow_String> strings(100, "same");
  io.WriteStringArray(strings.data(), 100);  // fills the pool once
  io.WriteDoubleArray(values.data(), 10000);
  io.Bytes().reserve(200000);  // the stream's own growth is not measured
  io.Seek(800);
  const std::pair<int, std::function<void()>> calls[] = {
      {0, [&] { io.ReadInt(); }},
      {0, [&] { io.ReadDouble(); }},
      {1, [&] { EXPECT_EQ(io.ReadDoubleArray(values.data(), 9000), 9000); }},
      {1, [&] { io.WriteDoubleArray(values.data(), 10000); }},
      {1, [&] { io.WriteStringArray(strings.data(), 100); }},
      {0, [&] { io.WriteInt(1); }},
      {0, [&] { io.WriteDouble(3.0); }},
      {0, [&] { io.WriteFixedString("abc", 8); }}};
  for (const auto& call : calls) {
    const long before = g_Allocations.load();
    call.second();
    EXPECT_EQ(g_Allocations.load() - before, call.first);
  }
}

// Writes of a block or more bypass the buffer's block and must leave the bytes
// of value-by-value writes (either order, pending writes, short writes).
struct DirectCase {
  int endian, blockSize, count;
  int shortWrites;  // the space takes at most this many bytes a call (0: all)
};

class DirectWriteTest : public ::testing::TestWithParam<DirectCase> {};

// A pending small write, a large array of each type, a small write, a read back.
Bytes WriteThroughBuffer(const DirectCase& c, bool whole) {
  MemoryIOS space(c.endian);
  if (c.shortWrites > 0) space.LimitWritesFrom(1, c.shortWrites);
  qvt_IOBuffer buffer(space, c.blockSize);
  std::vector<int> ints;
  std::vector<double> doubles;
  std::vector<float> floats;
  std::vector<char> bytes;
  for (int i = 0; i < c.count; ++i) {
    ints.push_back(static_cast<int>(static_cast<unsigned>(i) * 16777619u));
    doubles.push_back(i * 0.1 - 3);
    floats.push_back(static_cast<float>(i) / 3.0f);
    bytes.push_back(static_cast<char>(i * 7));
  }
  buffer.Seek(3);
  buffer.WriteInt(-5);
  if (whole) {
    buffer.WriteIntArray(ints.data(), c.count);
    buffer.WriteDoubleArray(doubles.data(), c.count);
    buffer.WriteFloatArray(floats.data(), c.count);
    buffer.Write(bytes.data(), c.count);
  } else {
    for (int v : ints) buffer.WriteInt(v);
    for (double v : doubles) buffer.WriteDouble(v);
    for (float v : floats) buffer.WriteFloat(v);
    for (char v : bytes) buffer.Write(&v, 1);
  }
  buffer.WriteInt(77);
  buffer.Seek(7);
  int first[2] = {0, 0};
  EXPECT_EQ(buffer.ReadIntArray(first, 2), 2);
  EXPECT_EQ((std::vector<int>(first, first + 2)), (std::vector<int>(ints.begin(), ints.begin() + 2)));
  buffer.Flush();
  return space.Bytes();
}

TEST_P(DirectWriteTest, SpaceHoldsTheBytesOfValueByValueWrites) {
  EXPECT_EQ(WriteThroughBuffer(GetParam(), true), WriteThroughBuffer(GetParam(), false));
}

INSTANTIATE_TEST_SUITE_P(Sizes, DirectWriteTest,
                         ::testing::Values(DirectCase{1, 64, 200, 0}, DirectCase{0, 64, 200, 0},
                                           DirectCase{1, 2048, 70000, 0}, DirectCase{1, 16, 4, 0},
                                           DirectCase{1, 64, 200, 5}, DirectCase{0, 4096, 40000, 1000}));

// Three doubles through a 20-byte block take two windows; a block goes out whole.
TEST(IOBufferTest, WindowsBlocksAndBigEndianConversion) {
  MemoryIOS space;
  qvt_IOBuffer buffer(space, 20);
  ASSERT_TRUE(buffer.PrepWrite(8, 3));
  EXPECT_EQ(buffer.WindowCount(), 2);
  std::memset(buffer.Window(), 1, 16);
  EXPECT_EQ(space.Writes(), 0);
  ASSERT_TRUE(buffer.PrepWrite(8, 1));
  EXPECT_EQ((std::vector<std::size_t>{static_cast<std::size_t>(buffer.WindowCount()),
                                      static_cast<std::size_t>(space.Writes()), space.Bytes().size()}),
            (std::vector<std::size_t>{1, 1, 16}));
  buffer.Seek(0);
  const double in[3] = {1.0, -2.5, 3.0};
  buffer.WriteDoubleArray(in, 3);
  const float f[2] = {1.5f, -0.5f};  // the doubles went past the block: it starts again at 24
  buffer.WriteFloatArray(f, 2);
  const int ints[4] = {1, -2, 3, -4};  // three fit before the block ends at 44
  buffer.WriteIntArray(ints, 4);
  buffer.Flush();
  const Bytes& b = space.Bytes();
  ASSERT_EQ(b.size(), 24u + 8u + 16u);
  EXPECT_EQ((std::vector<double>{BEDouble(b, 0), BEDouble(b, 8), BEDouble(b, 16)}),
            (std::vector<double>{1, -2.5, 3}));
  EXPECT_EQ(Text(b).substr(24),
            std::string("\x3F\xC0\0\0\xBF\0\0\0\0\0\0\1\xFF\xFF\xFF\xFE\0\0\0\3\xFF\xFF\xFF\xFC", 24));
  MemoryIOS small;
  qvt_IOBuffer tiny(small, 4);
  QVT_EXPECT_THROW_TEXT(tiny.WriteDouble(1.0), nex_TextException, kQuantum);
  QVT_EXPECT_THROW_TEXT(tiny.WriteString("z"), nex_TextException, kQuantum);
  EXPECT_TRUE(small.Bytes().empty());
}

// Pending bytes go out before a read, on a seek elsewhere, on Extend and at the
// end; a write after a read starts at the logical location; size 0 means 2 KiB.
TEST(IOBufferTest, PendingBytesReachTheSpaceAtTheRightTime) {
  MemoryIOS space;
  space.Bytes().assign(20, 'o');
  {
    qvt_IOBuffer buffer(space, 64);
    EXPECT_EQ((std::vector<int>{buffer.Write("0123456789", 10), space.Writes()}), (std::vector<int>{10, 0}));
    char bytes[4];
    EXPECT_EQ(buffer.Read(bytes, 4), 4);
    EXPECT_EQ(Text(space.Bytes()) + "|" + std::string(bytes, 4), "0123456789oooooooooo|oooo");
    buffer.Write("W", 1);
  }
  EXPECT_EQ(Text(space.Bytes()).substr(14, 2), "Wo");
  space.Bytes().resize(4);
  space.Seek(4);
  qvt_IOBuffer buffer(space, 0);
  EXPECT_EQ(buffer.Size(), 2048);
  const int writes = space.Writes();
  buffer.Write("abcdef", 6);
  buffer.Seek(10);
  EXPECT_EQ(space.Writes(), writes);
  buffer.Seek(0);
  EXPECT_EQ(std::make_tuple(space.Writes(), Text(space.Bytes())), std::make_tuple(writes + 1, "0123abcdef"));
  buffer.Seek(10);
  buffer.WriteInt(0x01020304);
  EXPECT_TRUE(buffer.Extend(6));
  EXPECT_EQ(Text(space.Bytes()).substr(10, 4), "\1\2\3\4");
  EXPECT_EQ((std::vector<std::size_t>{space.Bytes().size(), static_cast<std::size_t>(space.Location())}),
            (std::vector<std::size_t>{20, 14}));
}

// Counts below one move nothing, silently; null arrays, writes to a read-only
// space and a write the space takes nothing of are refused.
TEST(IOBufferTest, RefusalsAndTheirMessages) {
  MemoryIOS space;
  qvt_IOBuffer buffer(space, 8);
  buffer.WriteIntArray(nullptr, 0);
  buffer.WriteStringArray(nullptr, -1);
  EXPECT_EQ((std::vector<int>{buffer.ReadDoubleArray(nullptr, -1), buffer.Read(nullptr, 0),
                              buffer.Write(nullptr, 0), buffer.ReadStringArray(nullptr, 0)}),
            (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(buffer.ReadFixedString(0), "");
  EXPECT_TRUE(space.Bytes().empty());
  QVT_EXPECT_THROW_TEXT(buffer.ReadIntArray(nullptr, 2), nex_TextException, kPointer);
  QVT_EXPECT_THROW_TEXT(buffer.WriteDoubleArray(nullptr, 2), nex_TextException, kPointer);
  space.Bytes().assign(16, 0);
  space.SetReadOnly(true);
  const int i = 1;
  const float f = 1;
  const double d = 1;
  const cow_String s = "s";
  MemoryIOS other;
  qvt_IOBuffer source(other, 8);
  ExpectEachThrows<nex_TextException>(
      kReadOnly, {[&] { buffer.Write("a", 1); }, [&] { buffer.WriteIntArray(&i, 1); },
                  [&] { buffer.WriteFloatArray(&f, 1); }, [&] { buffer.WriteDoubleArray(&d, 1); },
                  [&] { buffer.WriteStringArray(&s, 1); }, [&] { buffer.PrepWrite(1, 1); },
                  [&] { buffer.Append(source); }});
  EXPECT_EQ((std::vector<int>{buffer.ReadInt(), space.Writes()}), std::vector<int>(2, 0));
  // A write the space takes nothing of fails and keeps the bytes.
  MemoryIOS stuck;
  stuck.Bytes().assign(3, '-');  // the memory stream copies to data() even for 0 bytes
  stuck.LimitWritesFrom(1, 0);
  qvt_IOBuffer pending(stuck, 64);
  pending.Write("abc", 3);
  QVT_EXPECT_THROW_TEXT(pending.Flush(), nex_TextException, kWriteFailed);
  stuck.LimitWritesFrom(0, 0);
  pending.Flush();  // the bytes were kept and go out now
  EXPECT_EQ(Text(stuck.Bytes()), "abc");
}

// Appending within one space copies what was there when it began, never its own writes.
TEST(IOBufferTest, AppendIntoTheSameSpaceEnds) {
  MemoryIOS source;
  for (int i = 0; i < 100; ++i) source.Bytes().push_back(static_cast<unsigned char>(i));
  qvt_IOBuffer from(source, 4), end(source, 4);
  from.Seek(10);
  end.Seek(100);
  end.Append(from);
  end.Flush();
  ASSERT_EQ(source.Bytes().size(), 190u);
  for (int i = 10; i < 100; ++i) ASSERT_EQ(source.Bytes()[static_cast<std::size_t>(i + 90)], i);
}

}  // namespace
