// A writer process killed before a chosen pwrite or ftruncate (whole, or
// torn after its first page) loses nothing it flushed: a reader then finds
// the batches of the last completed flush (or of the one under way, if it
// got through), qvtdb check calls the file sound, and a new writer opens it
// and goes on. ctest runs a sample of the kill points; QVT_KILL_SWEEP=all
// (make soak) runs every one, with longer writers.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

constexpr int kBaseBatches = 250;  // a file near the end of linkage block 0
constexpr int kSamplePoints = 10;

bool WholeSweep() { return std::getenv("QVT_KILL_SWEEP") != nullptr; }

// The number after the last "<word> " in a writer's output, -1 when none.
long Last(const std::string& out, const std::string& word) {
  const std::size_t at = out.rfind(word + " ");
  return at == std::string::npos ? -1 : std::stol(out.substr(at + word.size() + 1));
}

// Compressed; torn; continued from a file of kBaseBatches (growing into
// linkage block 1), else from nothing.
class KillSweep : public ::testing::TestWithParam<std::tuple<bool, bool, bool>> {
 protected:
  // Runs the writer on a fresh copy of the start file, killed before write
  // number killAt (0: never).
  qvt_test::ChildResult RunWriter(long killAt) {
    const auto [compressed, torn, continued] = GetParam();
    static std::map<bool, std::vector<unsigned char>> bases;  // written once per kind
    if (continued && bases.count(compressed) == 0) {
      qvt_test::WriteBatches(m_Path, compressed, true, kBaseBatches);
      bases[compressed] = qvt_test::ReadAll(m_Path);
    }
    (void)std::remove(m_Path.c_str());
    if (continued) qvt_test::WriteAll(m_Path, bases[compressed]);
    // Under the sanitizers the shim is loaded ahead of their runtime, which
    // they accept only when told to.
    std::map<std::string, std::string> env = {{"LD_PRELOAD", QVT_KILL_SHIM},
                                              {"QVT_KILL_AT", std::to_string(killAt)},
                                              {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    if (torn) env["QVT_KILL_TORN"] = "1";
    // A new file: creation, first flushes and growth past the first MiB.
    const int last = continued ? kBaseBatches + (WholeSweep() ? 30 : 12) : (WholeSweep() ? 40 : 20);
    return qvt_test::RunProgram({QVT_BATCH_WRITER, m_Path, compressed ? "compressed" : "plain",
                                 continued ? "open" : "create", std::to_string(last)},
                                env);
  }

  qvt_test::ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("killed.odb");
};

TEST_P(KillSweep, ReaderFindsTheLastFlushAndANewWriterGoesOn) {
  const qvt_test::ChildResult full = RunWriter(0);
  ASSERT_TRUE(full.Succeeded()) << full.err;
  const long calls = Last(full.out, "calls");
  ASSERT_GT(calls, 0);
  for (long n = 1; n <= calls; ++n) {
    if (!WholeSweep() && n > 2 && n != calls && n % (calls / kSamplePoints + 1) != 0) continue;
    SCOPED_TRACE("killed before write " + std::to_string(n) + " of " + std::to_string(calls));
    const qvt_test::ChildResult killed = RunWriter(n);
    ASSERT_EQ(killed.signal, SIGKILL) << killed.out << killed.err;
    const long flushed = Last(killed.out, "flushed");
    if (flushed < 0) continue;  // killed before its first flush: a new file holds nothing yet
    std::string problem;
    const int found = qvt_test::CountSoundBatches(m_Path, &problem);
    ASSERT_TRUE(found == flushed || found == flushed + 1)
        << "found " << found << ", flushed " << flushed << ": " << problem;
#ifdef QVTDB_BINARY
    const qvt_test::ChildResult check = qvt_test::RunProgram({QVTDB_BINARY, "check", m_Path});
    ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
#endif
    qvt_test::WriteBatches(m_Path, std::get<0>(GetParam()), false, found + 2);
    ASSERT_EQ(qvt_test::CountSoundBatches(m_Path, &problem), found + 2) << problem;
    ASSERT_FALSE(std::filesystem::exists(m_Path + "-journal")) << "the journal outlived its writer";
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, KillSweep,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<KillSweep::ParamType>& sweep) {
                           return std::string(std::get<0>(sweep.param) ? "Compressed" : "Plain") +
                                  (std::get<1>(sweep.param) ? "Torn" : "Whole") +
                                  (std::get<2>(sweep.param) ? "Continued" : "Created");
                         });

}  // namespace
