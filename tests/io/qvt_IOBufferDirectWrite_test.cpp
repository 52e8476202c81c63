// Writes of at least a block bypass the I/O buffer's block: the space must
// end with the same bytes as when every value goes through the block, for
// either byte order, behind and before pending small writes, from any start,
// and through a space that takes fewer bytes than asked.
#include <vector>

#include "qvt_IOBuffer.h"
#include "qvt_MemoryIOS.h"
#include <gtest/gtest.h>

namespace {

struct Case {
  int endian;
  int blockSize;
  int count;
  int shortWrites;  // the space takes at most this many bytes a call (0: all)
};

class DirectWriteTest : public ::testing::TestWithParam<Case> {};

// A seek, a small write left pending, a large array of each type, a small
// write behind it, then a read back of the first values.
template <class Write>
std::vector<unsigned char> WriteAll(const Case& c, Write write) {
  qvt_test::MemoryIOS space(c.endian);
  if (c.shortWrites > 0) space.LimitWritesFrom(1, c.shortWrites);
  qvt_IOBuffer buffer(space, c.blockSize);
  std::vector<int> ints(static_cast<std::size_t>(c.count));
  std::vector<double> doubles(ints.size());
  std::vector<float> floats(ints.size());
  std::vector<char> bytes(ints.size());
  for (int i = 0; i < c.count; ++i) {
    ints[static_cast<std::size_t>(i)] = static_cast<int>(static_cast<unsigned>(i) * 16777619u);
    doubles[static_cast<std::size_t>(i)] = i * 0.1 - 3;
    floats[static_cast<std::size_t>(i)] = static_cast<float>(i) / 3.0f;
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(i * 7);
  }
  buffer.Seek(3);
  buffer.WriteInt(-5);
  write(buffer, ints, doubles, floats, bytes);
  buffer.WriteInt(77);
  buffer.Seek(7);
  int first[2] = {0, 0};
  EXPECT_EQ(buffer.ReadIntArray(first, 2), 2);
  EXPECT_EQ(first[0], ints[0]);
  EXPECT_EQ(first[1], ints[1]);
  buffer.Flush();
  return space.Bytes();
}

TEST_P(DirectWriteTest, SpaceHoldsTheBytesOfValueByValueWrites) {
  const Case c = GetParam();
  const std::vector<unsigned char> whole =
      WriteAll(c, [](qvt_IOBuffer& b, auto& ints, auto& doubles, auto& floats, auto& bytes) {
        b.WriteIntArray(ints.data(), static_cast<int>(ints.size()));
        b.WriteDoubleArray(doubles.data(), static_cast<int>(doubles.size()));
        b.WriteFloatArray(floats.data(), static_cast<int>(floats.size()));
        b.Write(bytes.data(), static_cast<int>(bytes.size()));
      });
  const std::vector<unsigned char> oneByOne =
      WriteAll(c, [](qvt_IOBuffer& b, auto& ints, auto& doubles, auto& floats, auto& bytes) {
        for (int v : ints) b.WriteInt(v);
        for (double v : doubles) b.WriteDouble(v);
        for (float v : floats) b.WriteFloat(v);
        for (char v : bytes) b.Write(&v, 1);
      });
  EXPECT_EQ(whole, oneByOne);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DirectWriteTest,
                         ::testing::Values(Case{1, 64, 200, 0}, Case{0, 64, 200, 0}, Case{1, 2048, 70000, 0},
                                           Case{1, 16, 4, 0}, Case{1, 64, 200, 5},
                                           Case{0, 4096, 40000, 1000}));

}  // namespace
