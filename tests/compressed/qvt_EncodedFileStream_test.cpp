// The compressed file as a typed stream: values written through qvt_File
// read back equal, a compressed file holds the same logical bytes as a plain
// one, and seeded random operations match a plain in-memory model across
// reopens and cache reclaims.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvt_CompressedTestSupport.h"
#include "qvt_File.h"
#include "qvt_FileReprEncoded.h"
#include "qvt_TestSupport.h"

namespace {

class EncodedStreamTest : public ::testing::Test {
 protected:
  std::string Name(const char* leaf = "c.mdb") const { return m_Dir.File(leaf); }

  static void WriteValues(qvt_FileRepr& file) {
    std::vector<int> ints(30000);
    std::vector<double> doubles(20000);
    for (std::size_t i = 0; i < ints.size(); ++i) ints[i] = static_cast<int>(i * 2654435761u);
    for (std::size_t i = 0; i < doubles.size(); ++i) doubles[i] = static_cast<double>(i) / 7.0;
    file.WriteInt(0x01020304);
    file.WriteFixedString("compressed", 16);
    file.WriteIntArray(ints.data(), static_cast<int>(ints.size()));
    file.WriteDoubleArray(doubles.data(), static_cast<int>(doubles.size()));
    file.WriteFloat(2.5f);
  }

  static void CheckValues(qvt_FileRepr& file) {
    file.Seek(0);
    EXPECT_EQ(file.ReadInt(), 0x01020304);
    EXPECT_EQ(std::string(file.ReadFixedString(16).c_str()), "compressed");
    std::vector<int> ints(30000);
    std::vector<double> doubles(20000);
    EXPECT_EQ(file.ReadIntArray(ints.data(), 30000), 30000);
    EXPECT_EQ(file.ReadDoubleArray(doubles.data(), 20000), 20000);
    for (std::size_t i = 0; i < ints.size(); ++i) ASSERT_EQ(ints[i], static_cast<int>(i * 2654435761u)) << i;
    for (std::size_t i = 0; i < doubles.size(); ++i) ASSERT_EQ(doubles[i], static_cast<double>(i) / 7.0) << i;
    EXPECT_EQ(file.ReadFloat(), 2.5f);
    EXPECT_EQ(file.Location(), file.Length());
  }

  static std::vector<char> Logical(qvt_FileRepr& file) {
    std::vector<char> bytes(static_cast<std::size_t>(file.Length()));
    file.Seek(0);
    EXPECT_EQ(file.Read(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    return bytes;
  }

  qvt_test::ScratchDir m_Dir;
};

// Typed values written compressed read back equal, before and after a
// reopen, and the file holds the same logical bytes as a plain one.
TEST_F(EncodedStreamTest, TypedValuesReadBackAndMatchAPlainFile) {
  {
    qvt_File packed = qvt_File::CreateCompressed(Name());
    qvt_File plain = qvt_File::Open(Name("p.odb"), 2, true);
    WriteValues(*packed.Repr());
    CheckValues(*packed.Repr());
    plain.Repr()->ExtendFile(packed.Repr()->Length());
    WriteValues(*plain.Repr());
    plain.Repr()->TrimToLength();
  }
  qvt_File packed = qvt_File::Open(Name(), 0, true);
  CheckValues(*packed.Repr());
  const std::vector<char> bytes = Logical(*packed.Repr());
  const std::vector<unsigned char> plain = qvt_test::ReadAll(Name("p.odb"));
  ASSERT_EQ(bytes.size(), plain.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), plain.begin(),
                         [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }));
  EXPECT_LT(qvt_test::FileSize(Name()), qvt_test::FileSize(Name("p.odb")));
}

TEST_F(EncodedStreamTest, CopyMovesBytesBetweenPlainAndCompressed) {
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(300000, 21);
  qvt_test::WriteAll(Name("p.odb"), std::vector<unsigned char>(bytes.begin(), bytes.end()));
  {
    qvt_File packed = qvt_File::CreateCompressed(Name());
    packed.Copy(qvt_File::Open(Name("p.odb"), 0, true));
    EXPECT_EQ(packed.Repr()->Length(), 300000);
  }
  qvt_File back = qvt_File::Open(Name("q.odb"), 2, true);
  back.Copy(qvt_File::Open(Name(), 0, true));
  const std::vector<unsigned char> copied = qvt_test::ReadAll(Name("q.odb"));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), copied.begin(), copied.end(),
                         [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }));
}

TEST_F(EncodedStreamTest, UpdatedFileShowsExactlyTheChange) {
  std::vector<char> model = qvt_ctest::CompressibleBytes(5 * 65536 + 123, 22);
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    file.Repr()->Write(model.data(), static_cast<int>(model.size()));
  }
  const std::vector<char> patch = qvt_ctest::CompressibleBytes(70000, 23);
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    file.Repr()->Seek(65000);
    file.Repr()->Write(patch.data(), static_cast<int>(patch.size()));
    file.Repr()->Seek(file.Repr()->Length());
    file.Repr()->Write(patch.data(), 1000);
  }
  std::copy(patch.begin(), patch.end(), model.begin() + 65000);
  model.insert(model.end(), patch.begin(), patch.begin() + 1000);
  qvt_File file = qvt_File::Open(Name(), 0, true);
  EXPECT_EQ(Logical(*file.Repr()), model);
}

// Seeded random Seek, Read, Write and Extend against a vector, reopening
// now and then. Small segments make the cache reclaim and store often.
class RandomOperationsTest : public EncodedStreamTest, public ::testing::WithParamInterface<int> {};

TEST_P(RandomOperationsTest, MatchAPlainModel) {
  const int segmentSize = GetParam();
  const std::uint32_t seed = 777u + static_cast<std::uint32_t>(segmentSize);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::vector<char> model;
  std::int64_t position = 0;
  // Well past the 1 MiB the cache keeps, so that buffers are reclaimed.
  const std::int64_t maxSize = 3 << 20;
  const int span = std::max(3 * segmentSize, 100000);
  int mostBuffers = 0;
  zip_Engine engine = zip_Engine::Zlib;
  auto file = std::make_unique<qvt_FileReprEncoded>(
      Name(), std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine), segmentSize);
  for (int step = 0; step < 600; ++step) {
    const unsigned op = rng() % 100;
    if (op < 40) {
      const int n = static_cast<int>(rng() % span);
      if (position + n > maxSize) continue;
      const std::vector<char> bytes = qvt_ctest::CompressibleBytes(static_cast<std::size_t>(n), static_cast<std::uint32_t>(rng()));
      ASSERT_EQ(file->Write(bytes.data(), n), n);
      if (position + n > static_cast<std::int64_t>(model.size())) model.resize(static_cast<std::size_t>(position + n));
      std::copy(bytes.begin(), bytes.end(), model.begin() + position);
      position += n;
    } else if (op < 60) {
      const int n = static_cast<int>(rng() % span);
      std::vector<char> got(static_cast<std::size_t>(n));
      const int expected = static_cast<int>(std::min<std::int64_t>(n, static_cast<std::int64_t>(model.size()) - position));
      ASSERT_EQ(file->Read(got.data(), n), expected) << "step " << step;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + position)) << "step " << step;
      position += expected;
    } else if (op < 78) {
      position = model.empty() ? 0 : static_cast<std::int64_t>(rng() % (model.size() + 1));
      file->Seek(position);
    } else if (op < 86) {
      const std::int64_t n = rng() % span;
      if (static_cast<std::int64_t>(model.size()) + n > maxSize) continue;
      EXPECT_FALSE(file->ExtendFile(n));
      model.resize(model.size() + static_cast<std::size_t>(n), 0);
    } else if (op < 91) {
      if (position == 0) continue;
      const std::int64_t n = 1 + static_cast<std::int64_t>(rng() % position);
      EXPECT_FALSE(file->ExtendFile(-n));
      position -= n;
      model.resize(static_cast<std::size_t>(position));
    } else if (op < 98) {
      file->Flush();
    } else {
      // Reopened with the other engine where the build has both: each
      // reads and extends what the other wrote.
      file.reset();
      engine = engine == zip_Engine::Zlib ? zip_Codec::Fastest() : zip_Engine::Zlib;
      file = std::make_unique<qvt_FileReprEncoded>(Name(), 1,
                                                   std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine));
      position = 0;
    }
    ASSERT_EQ(file->Length(), static_cast<std::int64_t>(model.size())) << "step " << step;
    ASSERT_EQ(file->Location(), position) << "step " << step;
    mostBuffers = std::max(mostBuffers, file->Table().Cache().BufferCount());
  }
  EXPECT_GE(mostBuffers, file->Table().Cache().Limit());
  file.reset();
  qvt_File reopened = qvt_File::Open(Name(), 0, true);
  EXPECT_EQ(Logical(*reopened.Repr()), model);
}

INSTANTIATE_TEST_SUITE_P(SegmentSizes, RandomOperationsTest, ::testing::Values(4096, 65536, 1000));

}  // namespace
