// The compressed file through qvt_File: lengths, positions and segment
// boundaries, extension both ways, refusals, damaged files, seeded random
// operations against a plain model, and a medium that runs out of room.
#include "qvt_FileReprEncoded.h"

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_CompressedTestSupport.h"
#include "qvt_Corpus.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

using qvt_ctest::CompressibleBytes;
using qvt_ctest::kSector;
using qvt_ctest::LE32;
using qvt_test::ReadAll;

namespace {

constexpr int kS = 65536;
using Bytes = std::vector<char>;

class EncodedFileTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("c.mdb"); }
  // A compressed file holding bytes, closed.
  void Make(const Bytes& bytes) {
    qvt_File file = qvt_File::CreateCompressed(Name());
    ASSERT_EQ(file.Repr()->Write(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
  }
  static Bytes ReadBack(qvt_File& file) {
    Bytes bytes(static_cast<std::size_t>(file.Repr()->Length()));
    file.Repr()->Seek(0);
    EXPECT_EQ(file.Repr()->Read(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    return bytes;
  }
  // Bytes of the closed file reopened read-only.
  Bytes Reopened() const {
    qvt_File file = qvt_File::Open(Name(), 0, true);
    return ReadBack(file);
  }
  static std::string BadParameter(const std::string& method) {
    return "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::" + method + ".";
  }

  qvt_test::ScratchDir m_Dir;
};

// An empty file is one sector. Bad arguments (a seek past the end or
// before the start, a cut past the start) and changes to a read-only file
// are refused and leave the file and the position alone, as do reading to
// the end (more segments than the cache holds) and an update without
// changes; size-record calls change nothing.
TEST_F(EncodedFileTest, RefusalsAndReadingLeaveTheFileAlone) {
  char byte = 'x';
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(&byte, -1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Write"));
  }
  // Empty: one sector, one segment of length 0.
  const std::vector<unsigned char> empty = ReadAll(Name());
  ASSERT_EQ(empty.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(empty.begin(), empty.begin() + 8), "KVRTSA00");
  EXPECT_EQ((std::vector<std::uint32_t>{LE32(empty, 28), LE32(empty, 32), LE32(empty, 36)}),
            (std::vector<std::uint32_t>{65536, 1, 0}));
  const Bytes bytes = CompressibleBytes(20 * kS + 11, 9);
  Make(bytes);
  const std::vector<unsigned char> before = ReadAll(Name());
  EXPECT_LT(before.size(), bytes.size() / 2);  // really compressed
  {
    qvt_File file = qvt_File::Open(Name(), 0, true);
    EXPECT_EQ(ReadBack(file), bytes);
    EXPECT_EQ(file.Repr()->Read(&byte, 1), 0);
    const std::string text = "*** ERROR: Attempt to write to read-only file:\n  " + Name();
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(&byte, 1), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->Flush(), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(1), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->Extend(-1), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->TrimToLength(), qvt_FileReadOnlyExc, text);
  }
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    EXPECT_EQ(ReadBack(file), bytes);
    file.Repr()->Seek(20 * kS + 11);  // the end, but not beyond
    file.Repr()->Seek(10);
    QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(20 * kS + 12), nex_AssertException,
                          "location <= m_LogicalFileSize");
    QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(-1), qvt_FileBadParameterExc, BadParameter("Seek"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(-11), qvt_FileBadParameterExc, BadParameter("ExtendFile"));
    file.Repr()->WriteSizeRecord(500);
    file.Repr()->CheckSizeRecord(500);
    file.Repr()->TrimToLength();
    EXPECT_EQ(file.Repr()->Location(), 10);
  }
  EXPECT_EQ(ReadAll(Name()), before);
}

// Damage to each layer (tests/corpus, the ".cdb" files): opening and reading
// to the end raises the refusal of the layer that finds it, the container,
// the segment table or a segment.
TEST(DamagedEncodedFileTest, EachLayerRefusesItsDamageWithItsText) {
  const std::vector<qvt_test::CorpusFile> files = qvt_test::CorpusFiles(".cdb");
  EXPECT_GE(files.size(), 24u);
  for (const qvt_test::CorpusFile& damaged : files) {
    std::string raised = "no exception";
    try {
      qvt_File file = qvt_File::Open(damaged.path, 0, true);
      Bytes bytes(static_cast<std::size_t>(file.Repr()->Length()));
      file.Repr()->Read(bytes.data(), static_cast<int>(bytes.size()));
    } catch (const nex_Exception& e) {
      raised = e.AsString();
    }
    EXPECT_EQ(raised, damaged.answer) << damaged.path;
  }
}

// Seeded random Seek, Read, Write and Extend against a vector, reopening
// now and then. Small segments make the cache reclaim and store often.
class RandomOperationsTest : public EncodedFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(RandomOperationsTest, MatchAPlainModel) {
  const int segmentSize = GetParam();
  const std::uint32_t seed = 777u + static_cast<std::uint32_t>(segmentSize);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  Bytes model;
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
      const Bytes bytes = CompressibleBytes(static_cast<std::size_t>(n), static_cast<std::uint32_t>(rng()));
      ASSERT_EQ(file->Write(bytes.data(), n), n);
      if (position + n > static_cast<std::int64_t>(model.size()))
        model.resize(static_cast<std::size_t>(position + n));
      std::copy(bytes.begin(), bytes.end(), model.begin() + position);
      position += n;
    } else if (op < 60) {
      const int n = static_cast<int>(rng() % span);
      Bytes got(static_cast<std::size_t>(n));
      const int expected =
          static_cast<int>(std::min<std::int64_t>(n, static_cast<std::int64_t>(model.size()) - position));
      ASSERT_EQ(file->Read(got.data(), n), expected) << "step " << step;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + position))
          << "step " << step;
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
      const std::int64_t cut = 1 + static_cast<std::int64_t>(rng() % position);
      EXPECT_FALSE(file->ExtendFile(-cut));
      position -= cut;
      model.resize(static_cast<std::size_t>(position));
    } else if (op < 98) {
      file->Flush();
    } else {
      // Reopened with the other engine where the build has both: each
      // reads and extends what the other wrote.
      file.reset();
      engine = engine == zip_Engine::Zlib ? zip_Codec::Fastest() : zip_Engine::Zlib;
      file = std::make_unique<qvt_FileReprEncoded>(
          Name(), 1, std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine));
      position = 0;
    }
    ASSERT_EQ(file->Length(), static_cast<std::int64_t>(model.size())) << "step " << step;
    ASSERT_EQ(file->Location(), position) << "step " << step;
    mostBuffers = std::max(mostBuffers, file->Table().Cache().BufferCount());
  }
  EXPECT_GE(mostBuffers, file->Table().Cache().Limit());
  file.reset();
  EXPECT_EQ(Reopened(), model);
}

INSTANTIATE_TEST_SUITE_P(SegmentSizes, RandomOperationsTest, ::testing::Values(4096, 65536, 1000));

// A child process writes under a file-size limit, swept over the points
// where the container grows: every run ends in success or the operating
// system's refusal passed on as a clear exception, and the file left behind
// opens cleanly or is refused with an exception, never a crash.
TEST(EncodedFileFaultTest, RunningOutOfRoomIsAClearFailureAtEveryGrowthPoint) {
  constexpr long long kMiB = 1 << 20;
  qvt_test::ScratchDir dir;
  const std::string name = dir.File("full.mdb");
  std::mt19937 rng(99);
  Bytes data(static_cast<std::size_t>(3 * kMiB));  // noise zlib cannot shrink
  for (char& c : data) c = static_cast<char>(rng());
  for (const long long limit : {kMiB - 1, 2 * kMiB + 100000, 3 * kMiB + 5, 8 * kMiB}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    qvt_test::WriteAll(name, {});
    const qvt_test::ChildResult result = qvt_test::RunChild([&] {
      if (!qvt_test::LimitFileSize(limit)) return 2;
      try {
        qvt_File file = qvt_File::CreateCompressed(name);
        for (std::size_t at = 0; at < data.size(); at += 65536) {
          file.Repr()->Write(data.data() + at, 65536);
          if (at % (8 * 65536) == 0) file.Repr()->Flush();
        }
        file.Repr()->Flush();
        std::printf("done\n");
      } catch (const nex_Exception& e) {
        std::printf("%s\n", e.AsString().c_str());
      }
      return 0;
    });
    ASSERT_TRUE(result.Succeeded()) << result.exitCode << " " << result.signal << " " << result.err;
    if (limit > 4 * kMiB) {
      EXPECT_EQ(result.out, "done\n");
      qvt_File file = qvt_File::Open(name, 0, true);
      Bytes got(data.size());
      EXPECT_EQ(file.Repr()->Read(got.data(), static_cast<int>(got.size())), static_cast<int>(data.size()));
      EXPECT_TRUE(got == data);
      continue;
    }
    const std::string tooLarge = "***ERROR: resize failed for file " + name + ": File too large";
    EXPECT_EQ(result.out, tooLarge + "\n");
    // Closing flushes again, which may fail the same way: reported, not thrown.
    if (!result.err.empty()) {
      EXPECT_EQ(result.err, "*** WARNING: Closing compressed file '" + name + "' failed: " + tooLarge + "\n");
    }
    try {  // the file left behind reads or is refused, never crashes
      qvt_File file = qvt_File::Open(name, 0, true);
      Bytes got(static_cast<std::size_t>(file.Repr()->Length()));
      file.Repr()->Read(got.data(), static_cast<int>(got.size()));
    } catch (const nex_Exception&) {
    }
  }
}

}  // namespace
