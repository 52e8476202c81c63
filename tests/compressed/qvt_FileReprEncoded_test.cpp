// The compressed file through qvt_File: refusals, damaged files, seeded random operations against
// a plain model, a medium that runs out of room, and encoding in worker threads.
#include "qvt_FileReprEncoded.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_CodecZip.h"
#include "qvt_CompressedTestSupport.h"
#include "qvt_Corpus.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace qvt_ctest {
namespace {

using qvt_test::ReadAll;

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
  static std::string BadParameter(const std::string& method) {
    return "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::" + method + ".";
  }

  qvt_test::ScratchDir m_Dir;
};

// Refusals, reading to the end (more segments than the cache holds), an update without changes and
// the size-record calls leave the file and the position alone.
TEST_F(EncodedFileTest, RefusalsAndReadingLeaveTheFileAlone) {
  char byte = 'x';
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(&byte, -1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Write"));
  }
  const std::vector<unsigned char> empty = ReadAll(Name());  // one sector, one segment of length 0
  ASSERT_EQ(empty.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(empty.begin(), empty.begin() + 8), "KVRTSA00");
  EXPECT_EQ(At(empty, {28, 32, 36}), (Words{65536, 1, 0}));
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

// The ".cdb" files of tests/corpus: each layer refuses its damage with its text.
TEST(DamagedEncodedFileTest, EachLayerRefusesItsDamageWithItsText) {
  const std::vector<qvt_test::CorpusFile> files = qvt_test::CorpusFiles(".cdb");
  EXPECT_GE(files.size(), 24u);
  for (const qvt_test::CorpusFile& damaged : files) {
    std::string raised = "no exception";
    try {
      qvt_test::LogicalBytes(damaged.path);
    } catch (const nex_Exception& e) {
      raised = e.AsString();
    }
    EXPECT_EQ(raised, damaged.answer) << damaged.path;
  }
}

// Small segments make the cache reclaim and store often.
class RandomOperationsTest : public EncodedFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(RandomOperationsTest, MatchAPlainModel) {
  const int segmentSize = GetParam();
  const std::uint32_t seed = 777u + static_cast<std::uint32_t>(segmentSize);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  Bytes model;
  std::int64_t position = 0;
  const std::int64_t maxSize = 3 << 20;  // well past the 1 MiB the cache keeps
  const int span = std::max(3 * segmentSize, 100000);
  int mostBuffers = 0;
  zip_Engine engine = zip_Engine::Zlib;
  auto file = std::make_unique<qvt_FileReprEncoded>(
      Name(), std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine), segmentSize);
  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const unsigned op = rng() % 100;
    const std::int64_t size = static_cast<std::int64_t>(model.size());
    if (op < 40) {
      const int n = static_cast<int>(rng() % span);
      if (position + n > maxSize) continue;
      const Bytes bytes = CompressibleBytes(n, rng());
      ASSERT_EQ(file->Write(bytes.data(), n), n);
      model.resize(std::max(size, position + n));
      std::copy(bytes.begin(), bytes.end(), model.begin() + position);
      position += n;
    } else if (op < 60) {
      const int n = static_cast<int>(rng() % span);
      const int expected = static_cast<int>(std::min<std::int64_t>(n, size - position));
      Bytes got(n);
      ASSERT_EQ(file->Read(got.data(), n), expected);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + position));
      position += expected;
    } else if (op < 78) {
      position = size == 0 ? 0 : rng() % (size + 1);
      file->Seek(position);
    } else if (op < 86) {
      const std::int64_t n = rng() % span;
      if (size + n > maxSize) continue;
      EXPECT_FALSE(file->ExtendFile(n));
      model.resize(size + n, 0);
    } else if (op < 91) {
      if (position == 0) continue;
      const std::int64_t cut = 1 + rng() % position;
      EXPECT_FALSE(file->ExtendFile(-cut));
      position -= cut;
      model.resize(position);
    } else if (op < 98) {
      file->Flush();
    } else {  // reopened with the other engine where the build has both, each taking up the other's
      file.reset();
      engine = engine == zip_Engine::Zlib ? zip_Codec::Fastest() : zip_Engine::Zlib;
      file = std::make_unique<qvt_FileReprEncoded>(
          Name(), 1, std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine));
      position = 0;
    }
    ASSERT_EQ(file->Length(), static_cast<std::int64_t>(model.size()));
    ASSERT_EQ(file->Location(), position);
    mostBuffers = std::max(mostBuffers, file->Table().Cache().BufferCount());
  }
  EXPECT_GE(mostBuffers, file->Table().Cache().Limit());
  file.reset();
  qvt_File reopened = qvt_File::Open(Name(), 0, true);
  EXPECT_EQ(ReadBack(reopened), model);
}

INSTANTIATE_TEST_SUITE_P(SegmentSizes, RandomOperationsTest, ::testing::Values(4096, 65536, 1000));

// A child writes under file-size limits at the points where the container grows: each run succeeds
// or passes on the system's refusal, and the file left behind reads or is refused, never crashes.
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
      EXPECT_TRUE(qvt_test::LogicalBytes(name) == data);
      continue;
    }
    const std::string tooLarge = "***ERROR: resize failed for file " + name + ": File too large";
    EXPECT_EQ(result.out, tooLarge + "\n");
    // Closing flushes again, which may fail the same way: reported, not thrown.
    const std::string warning =
        "*** WARNING: Closing compressed file '" + name + "' failed: " + tooLarge + "\n";
    EXPECT_TRUE(result.err.empty() || result.err == warning) << result.err;
    try {
      qvt_test::LogicalBytes(name);
    } catch (const nex_Exception&) {
    }
  }
}

// Worker threads store what the writer's thread alone stores (seeded writes past the cache and back
// into segments being encoded, flushes, extensions, cuts, closing in flight), read back segments whose
// stores wait, and report a failed encoding once, by the store that needed it, which tries it again.
struct OneThreadCodec : qvt_CodecZip {};  // derived, so it gives no copies
// The zlib codec and its copies, failing the encode that brings the count to 0.
struct FailingCodec : qvt_CodecZip {
  explicit FailingCodec(std::atomic<int>* left) : m_Left(left) {}
  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override {
    NEX_ASSERT(--*m_Left != 0);
    qvt_CodecZip::Encode(out, in, length);
  }
  std::unique_ptr<qvt_Codec> CopyForThread() const override { return std::make_unique<FailingCodec>(m_Left); }
  std::atomic<int>* m_Left;
};
TEST(ParallelEncodeTest, StoresTheBytesAndReportsTheErrorsOfOneThread) {
  qvt_test::ScratchDir dir;
  for (const bool alone : {false, true}) {
    qvt_FileReprEncoded file(dir.File(alone ? "1" : "0"),
                             std::unique_ptr<qvt_Codec>(alone ? new OneThreadCodec : new qvt_CodecZip), kS);
    std::mt19937 rng(4242);
    for (int step = 0; step < 300; ++step) {
      const std::uint32_t op = rng() % 10, n = rng() % 250000;
      if (op < 3) file.Seek(n * 16 % (file.Length() + 1));
      if (op < 7 && file.Location() < (4 << 20))
        file.Write(CompressibleBytes(n, n).data(), static_cast<int>(n));
      else if (op > 7)
        op < 9 ? file.Flush() : (void)file.ExtendFile(n % 2 ? n / 8 : -(n * 8 % (file.Location() + 1)));
    }
  }
  EXPECT_TRUE(ReadAll(dir.File("0")) == ReadAll(dir.File("1")));
  std::atomic<int> left(30);
  const std::vector<char> bytes = CompressibleBytes(60 * kS, 5);
  std::string failures;
  auto file = std::make_unique<qvt_FileReprEncoded>(dir.File("f"), std::make_unique<FailingCodec>(&left), kS);
  for (int i = 0; i < 60; ++i) {
    try {
      file->Write(bytes.data() + i * kS, kS);
    } catch (const nex_AssertException& e) {
      failures += e.AsString().c_str();
    }
  }
  std::vector<char> back(bytes.size());
  for (int i = 59; i >= 0; --i) file->Seek(i * kS), file->Read(back.data() + i * kS, kS);
  file.reset();
  EXPECT_EQ(failures, "--*m_Left != 0");
  EXPECT_TRUE(back == bytes);
}

}  // namespace
}  // namespace qvt_ctest
