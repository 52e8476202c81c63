// The I/O buffer: windows, when bytes reach the space, in-place conversion,
// Append into its own space, messages (strings: the stream and table tests).
#include "qvt_IOBuffer.h"

#include <cstring>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

using Bytes = std::vector<unsigned char>;

const char kQuantum[] = "qvt_IOBuffer::PrepWrite: Quantum is too large for buffer.";

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Three doubles through a 20-byte block take two windows; a block goes out whole.
TEST(IOBufferTest, WindowsBlocksAndBigEndianConversion) {
  MemoryIOS space;
  qvt_IOBuffer buffer(space, 20);
  ASSERT_TRUE(buffer.PrepWrite(8, 3));
  EXPECT_EQ(buffer.WindowCount(), 2);
  std::memset(buffer.Window(), 1, 16);
  EXPECT_EQ(space.Writes(), 0);
  ASSERT_TRUE(buffer.PrepWrite(8, 1));
  EXPECT_EQ(buffer.WindowCount(), 1);
  EXPECT_EQ(space.Writes(), 1);
  EXPECT_EQ(space.Bytes().size(), 16u);
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
  EXPECT_EQ(Bytes(b.begin() + 24, b.end()),
            (Bytes{0x3F, 0xC0, 0,    0,    0xBF, 0, 0, 0, 0,    0,    0,    1,
                   0xFF, 0xFF, 0xFF, 0xFE, 0,    0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFC}));

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
    EXPECT_EQ(buffer.Write("0123456789", 10), 10);
    EXPECT_EQ(space.Writes(), 0);
    char bytes[4];
    EXPECT_EQ(buffer.Read(bytes, 4), 4);
    EXPECT_EQ(Text(space.Bytes()), "0123456789oooooooooo");
    EXPECT_EQ(std::string(bytes, 4), "oooo");
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
  EXPECT_EQ(space.Writes(), writes + 1);
  EXPECT_EQ(Text(space.Bytes()), "0123abcdef");
  buffer.Seek(10);
  buffer.WriteInt(0x01020304);
  EXPECT_TRUE(buffer.Extend(6));
  EXPECT_EQ(Bytes(space.Bytes().begin() + 10, space.Bytes().begin() + 14), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(space.Bytes().size(), 20u);
  EXPECT_EQ(space.Location(), 14);
}

// Counts below one move nothing, silently; null arrays and writes to a
// read-only space are refused.
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
  QVT_EXPECT_THROW_TEXT(buffer.Write("a", 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(buffer.WriteIntArray(&i, 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(buffer.WriteFloatArray(&f, 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(buffer.WriteDoubleArray(&d, 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(buffer.WriteStringArray(&s, 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(buffer.PrepWrite(1, 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(buffer.Append(source), nex_TextException, kReadOnly);
  EXPECT_EQ(buffer.ReadInt(), 0);
  EXPECT_EQ(space.Writes(), 0);
}

// A write the space takes nothing of fails and keeps the bytes.
TEST(IOBufferTest, AWriteTakingNothingFailsAndKeepsTheBytes) {
  MemoryIOS stuck;
  stuck.Bytes().assign(3, '-');  // the memory stream copies to data() even for 0 bytes
  stuck.LimitWritesFrom(1, 0);
  qvt_IOBuffer buffer(stuck, 64);
  buffer.Write("abc", 3);
  QVT_EXPECT_THROW_TEXT(buffer.Flush(), nex_TextException, "***ERROR: Write operation failed.");
  stuck.LimitWritesFrom(0, 0);
  buffer.Flush();  // the bytes were kept and go out now
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
