// A writer process killed before a chosen pwrite or ftruncate (whole, or
// torn after its first page) loses nothing it flushed: a reader then finds
// exactly the batches of the last completed flush (or of the one under way
// if it got through), qvtdb check calls the file sound, and a new writer
// opens it and goes on. ctest runs a sample of the kill points; the whole
// sweep runs with QVT_KILL_SWEEP=all (make soak).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::ChildResult;

constexpr int kBaseBatches = 250;  // a file near the end of linkage block 0
constexpr int kSamplePoints = 10;

// The whole sweep (every kill point) runs longer writers than the sample.
bool WholeSweep() { return std::getenv("QVT_KILL_SWEEP") != nullptr; }
// A new file: creation, first flushes, growth past the first MiB.
int CreateBatches() { return WholeSweep() ? 40 : 20; }
// The base file continued past handle 511 into linkage block 1.
int MoreBatches() { return WholeSweep() ? 30 : 12; }

struct Sweep {
  bool compressed;
  bool torn;
  bool continued;  // from a file of kBaseBatches, else from nothing
};

std::string Name(const Sweep& s) {
  return std::string(s.compressed ? "Compressed" : "Plain") + (s.torn ? "Torn" : "Whole") +
         (s.continued ? "Continued" : "Created");
}

// The base file of the continued sweeps, written once per kind.
const std::vector<unsigned char>& BaseFile(bool compressed) {
  static std::map<bool, std::vector<unsigned char>> bases;
  auto found = bases.find(compressed);
  if (found != bases.end()) return found->second;
  qvt_test::ScratchDir dir;
  const std::string path = dir.File("base");
  qvt_test::WriteBatches(path, compressed, true, kBaseBatches);
  return bases[compressed] = qvt_test::ReadAll(path);
}

// The last "flushed K" line of a writer's output, -1 when none.
int LastFlushed(const std::string& out) {
  const std::size_t at = out.rfind("flushed ");
  return at == std::string::npos ? -1 : std::stoi(out.substr(at + 8));
}

class KillSweep : public ::testing::TestWithParam<Sweep> {
 protected:
  // Runs the writer on a fresh copy of the start file, killed before write
  // number killAt (0: not killed).
  ChildResult RunWriter(long killAt) {
    const Sweep s = GetParam();
    if (s.continued) {
      qvt_test::WriteAll(m_Path, BaseFile(s.compressed));
    } else {
      (void)std::remove(m_Path.c_str());
    }
    // Under the sanitizers the shim is loaded ahead of their runtime, which
    // they accept only when told to.
    std::map<std::string, std::string> env = {{"LD_PRELOAD", QVT_KILL_SHIM},
                                              {"QVT_KILL_AT", std::to_string(killAt)},
                                              {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    if (s.torn) env["QVT_KILL_TORN"] = "1";
    const int last = s.continued ? kBaseBatches + MoreBatches() : CreateBatches();
    return qvt_test::RunProgram({QVT_BATCH_WRITER, m_Path, s.compressed ? "compressed" : "plain",
                                 s.continued ? "open" : "create", std::to_string(last)},
                                env);
  }

  qvt_test::ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("killed.odb");
};

TEST_P(KillSweep, ReaderFindsTheLastFlushAndANewWriterGoesOn) {
  const Sweep s = GetParam();
  const ChildResult full = RunWriter(0);
  ASSERT_TRUE(full.Succeeded()) << full.err;
  const std::size_t callsAt = full.out.rfind("calls ");
  ASSERT_NE(callsAt, std::string::npos);
  const long calls = std::stol(full.out.substr(callsAt + 6));
  ASSERT_GT(calls, 0);

  std::vector<long> points;
  for (long n = 1; n <= calls; ++n)
    if (WholeSweep() || n <= 2 || n == calls || n % (calls / kSamplePoints + 1) == 0) points.push_back(n);

  for (const long n : points) {
    SCOPED_TRACE(Name(s) + ", killed before write " + std::to_string(n) + " of " + std::to_string(calls));
    const ChildResult killed = RunWriter(n);
    ASSERT_EQ(killed.signal, SIGKILL) << killed.out << killed.err;
    const int flushed = LastFlushed(killed.out);
    // Killed before its first flush completed: a new file holds nothing yet.
    if (flushed < 0) continue;
    std::string problem;
    const int found = qvt_test::CountSoundBatches(m_Path, &problem);
    ASSERT_TRUE(found == flushed || found == flushed + 1) << "found " << found << ", flushed " << flushed << ": "
                                                          << problem;
#ifdef QVTDB_BINARY
    const ChildResult check = qvt_test::RunProgram({QVTDB_BINARY, "check", m_Path});
    ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
#endif
    qvt_test::WriteBatches(m_Path, s.compressed, false, found + 2);
    ASSERT_EQ(qvt_test::CountSoundBatches(m_Path, &problem), found + 2) << problem;
    ASSERT_FALSE(std::filesystem::exists(m_Path + "-journal")) << "the journal outlived its writer";
  }
}

std::vector<Sweep> AllSweeps() {
  std::vector<Sweep> sweeps;
  for (const bool compressed : {false, true})
    for (const bool torn : {false, true})
      for (const bool continued : {false, true}) sweeps.push_back({compressed, torn, continued});
  return sweeps;
}

INSTANTIATE_TEST_SUITE_P(Writers, KillSweep, ::testing::ValuesIn(AllSweeps()),
                         [](const ::testing::TestParamInfo<Sweep>& sweep) { return Name(sweep.param); });

}  // namespace
