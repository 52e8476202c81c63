// A clean run writes the same bytes as the library wrote before it had a
// journal and a writer lock: other programs read these files, so the
// protection must leave no trace. The sizes and CRC-32s below are those of
// the files that library wrote for the same calls, with zlib compressing;
// libdeflate compresses the same database bytes into other zlib streams.
#include <gtest/gtest.h>

#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"
#include "zip_Compress.h"

namespace {

class CleanRun : public ::testing::TestWithParam<bool> {};

TEST_P(CleanRun, WritesTheReferenceBytesAcrossAReopen) {
  const bool compressed = GetParam();
  qvt_test::ScratchDir dir;
  const std::string path = dir.File(compressed ? "run.cdb" : "run.odb");
  {
    const qvt_test::ScopedEnv zlib("QVT_ZIP_ENGINE", "zlib");
    qvt_test::WriteBatches(path, compressed, true, 200);
    qvt_test::WriteBatches(path, compressed, false, 300);
  }
  if (compressed) {
    // The default engine: the same database inside the container.
    const std::string other = dir.File("default.cdb");
    qvt_test::WriteBatches(other, true, true, 200);
    qvt_test::WriteBatches(other, true, false, 300);
    EXPECT_TRUE(qvt_test::LogicalBytes(other) == qvt_test::LogicalBytes(path));
  }
  const std::vector<unsigned char> bytes = qvt_test::ReadAll(path);
  EXPECT_EQ(bytes.size(), compressed ? 1421312u : 5499092u);
  EXPECT_EQ(zip_crc32(0, bytes.data(), static_cast<unsigned long>(bytes.size())),
            compressed ? 0xf656a3c7ul : 0x9833c934ul);
  std::string problem;
  EXPECT_EQ(qvt_test::CountSoundBatches(path, &problem), 300) << problem;
}

TEST_P(CleanRun, ForcingWritesToTheDiskWritesTheSameBytes) {
  const qvt_test::ScopedEnv sync("KVR_QVT_SYNC", "1");
  qvt_test::ScratchDir dir;
  qvt_test::WriteBatches(dir.File("synced"), GetParam(), true, 5);
  qvt_test::WriteBatches(dir.File("synced"), GetParam(), false, 8);
  const qvt_test::ScopedEnv plain("KVR_QVT_SYNC", nullptr);
  qvt_test::WriteBatches(dir.File("plain"), GetParam(), true, 5);
  qvt_test::WriteBatches(dir.File("plain"), GetParam(), false, 8);
  EXPECT_TRUE(qvt_test::ReadAll(dir.File("synced")) == qvt_test::ReadAll(dir.File("plain")));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CleanRun, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Compressed" : "Plain"; });

}  // namespace
