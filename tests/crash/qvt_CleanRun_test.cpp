// A clean run writes the same bytes as the reference files kept in the
// corpus, which were written before the crash-safety machinery existed:
// other programs read these files, so protection must leave no trace.
#include <gtest/gtest.h>

#include "qvt_BatchWorkload.h"
#include "qvt_TestSupport.h"

namespace {

class CleanRun : public ::testing::TestWithParam<bool> {};

TEST_P(CleanRun, WritesTheReferenceBytesAcrossAReopen) {
  const bool compressed = GetParam();
  qvt_test::ScratchDir dir;
  const std::string path = dir.File(compressed ? "run.cdb" : "run.odb");
  qvt_test::WriteBatches(path, compressed, true, 200);
  qvt_test::WriteBatches(path, compressed, false, 300);
  const std::string reference =
      std::string(QVT_TEST_CORPUS_DIR) + (compressed ? "/batches-300.cdb" : "/batches-300.odb");
  EXPECT_TRUE(qvt_test::ReadAll(path) == qvt_test::ReadAll(reference));
  std::string problem;
  EXPECT_EQ(qvt_test::CountSoundBatches(path, &problem), 300) << problem;
}

INSTANTIATE_TEST_SUITE_P(Kinds, CleanRun, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Compressed" : "Plain"; });

}  // namespace
