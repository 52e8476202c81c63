// qvtdb demo, watch and unlock beside a writer process: every frame followed
// once, each refresh reported, and a dead writer's lock told from a live one's.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "qvt_BatchWorkload.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_QvtdbRunner.h"
#include "qvt_RemoteTestSupport.h"

namespace qvt_test {
namespace {

constexpr int kTimeoutMs = 120000;

// What the reader finds at opening, at any moment of the writer's run, counts as seen. A writer that never
// pauses outruns its reader, and 600 frames take the linkage into a second block.
TEST(Follow, DemoRunsToTheEndWithEveryFrameFollowedOnce) {
  ScratchDir dir;
  WriteAll(dir.File("keep.odb"), {'k', 'e', 'e', 'p'});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"demo", "run.odb", "--frames", "5", "--interval", "100"}, "reader: refresh 1, flush count "},
      {{"demo", "run.cdb", "--compressed", "--frames", "4", "--interval", "30"}, ""},
      // Without a file: in the current folder, saying where, and simply written again.
      {{"demo", "--frames", "2", "--interval", "0"},
       "demo: the writer creates " + dir.File("qvtdb-demo.odb") +
           " and writes 2 frames; a second process follows it\n"},
      {{"demo", "--frames", "1", "--interval", "0"}, ""},
      {{"demo", "keep.odb", "--frames", "1", "--interval", "0", "--force"}, ""},
      {{"demo", "fast.odb", "--frames", "600", "--interval", "0"}, ""},
  };
  for (const auto& c : cases) {
    const std::string file = c.first[1][0] == '-' ? "qvtdb-demo.odb" : c.first[1];
    const std::string kind = c.first[2] == "--compressed" ? "compressed" : "plain";
    const std::string frames = *(std::find(c.first.begin(), c.first.end(), "--frames") + 1);
    const int count = std::stoi(frames);
    const std::string out = OutputOf(c.first, 0, kTimeoutMs, dir.Path());
    // Each frame once, except behind the writer that never pauses.
    for (int frame = 1; frame <= count && count < 600; ++frame) {
      EXPECT_EQ(Count(out, "writer: frame " + std::to_string(frame) + "/"), 1) << out;
      EXPECT_EQ(Count(out, "          frame " + std::to_string(frame) + "  t="), 1) << frame << "\n" << out;
    }
    for (const std::string& part : std::vector<std::string>{
             "reader: opened " + file + " at flush count ", ": " + frames + " frames planned on 40 nodes\n",
             "120 nodal values read, max |U| = 0.010000  (converged in ",
             "reader: [########################] " + frames + "/" + frames + " frames\n",
             "          message: analysis complete\n",
             "reader: the writer finished; " + frames + " frames followed in ",
             "\ninfo of " + file + ":\nfile          " + file + "\nkind          " + kind + "\n",
             "  double array  " + frames + "\n", c.second}) {
      EXPECT_TRUE(Has(out, part));
    }
    EXPECT_TRUE(Has(OutputOf({"check", file}, 0, kTimeoutMs, dir.Path()),
                    ": sound " + kind + " database, " + std::to_string(count + 6) + " objects (" +
                        std::to_string(count + 1) + " arrays, 4 tables, 1 tagged stream)"));
  }
}

// The shared batch writer: "ready" once created, then a line awaited on standard input before each step.
int WriteBatchesOnCue(const std::string& path, int batches) {
  WriteBatches(path, false, true, batches, [](int done) {
    if (done == 0) std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (std::fgets(line, sizeof line, stdin) == nullptr) std::exit(3);
  });
  return 0;
}

// Each batch is seen before the next is written. By URL watch is then interrupted; by path a database
// created again under the same name is taken up before its rows come, and watch stops when idle.
TEST(Follow, WatchReportsEachRefreshAndADatabaseCreatedAgain) {
  RemoteEnvironment remote;
  ScratchDir dir;
  for (const bool url : {false, true}) {
    const std::string path = dir.File(url ? "url.odb" : "watched.odb");
    const std::string file = url ? RemoteEnvironment::Url(path) : path;
    ChildProcess writer([&] { return WriteBatchesOnCue(path, 3); });
    ASSERT_TRUE(writer.WaitForStdout("ready\n", kTimeoutMs)) << writer.ErrSoFar();
    ChildProcess watch(QvtdbProcess({"watch", file, "--until-idle", url ? "0" : "1.5", "--interval", "20"}));
    ASSERT_TRUE(watch.WaitForStdout("spaces\n", kTimeoutMs)) << watch.ErrSoFar();
    for (const char* rows : {"+1 row, now 1\n", "+1 row, now 2\n", "+1 row, now 3\n"}) {
      ASSERT_TRUE(writer.WriteStdin("go\n"));
      ASSERT_TRUE(watch.WaitForStdout(rows, 20000)) << watch.OutSoFar() << watch.ErrSoFar();
    }
    ASSERT_TRUE(writer.WriteStdin("close\n"));
    EXPECT_TRUE(writer.Wait(kTimeoutMs).Succeeded());
    ASSERT_TRUE(watch.WaitForStdout("refresh: flush count 5\n", 20000)) << watch.OutSoFar();
    if (url) {
      ::kill(watch.Pid(), SIGINT);
    } else {
      ASSERT_EQ(std::remove(path.c_str()), 0);
      ChildProcess second([&] { return WriteBatchesOnCue(path, 1); });
      ASSERT_TRUE(second.WaitForStdout("ready\n", kTimeoutMs));
      ASSERT_TRUE(watch.WaitForStdout("] watching " + file, 20000)) << watch.OutSoFar() << watch.ErrSoFar();
      ASSERT_TRUE(second.WriteStdin("go\nclose\n"));
      EXPECT_TRUE(second.Wait(kTimeoutMs).Succeeded());
    }
    const ChildResult result = EndedWith(0, watch.Wait(kTimeoutMs));
    const std::string first = result.out.substr(0, result.out.find("status: re-created\n"));
    const std::string again = result.out.substr(first.size());
    EXPECT_EQ(first.rfind("watching " + file + ": flush count 1, 5 spaces\n", 0), 0u) << first;
    EXPECT_EQ(Count(first, "refresh: flush count "), 4) << first;  // three batches and the close
    EXPECT_EQ(Count(first, "status: updated\n"), 4) << first;
    for (const char* line :
         {"table 4 (class batches): +1 row, now 3\n", "new double array 17 (2 per row), 3 rows\n",
          "other 1 (string pool): +32 bytes, now 144\n",
          "tagged stream 5: +2 records, now 6\n               record of stream 5: int id 2 = 14\n",
          "] refresh: flush count 5\n             no new objects, rows or records\n"}) {
      EXPECT_TRUE(Has(first, line));
    }
    if (url) {
      EXPECT_TRUE(Has(result.out, "s] interrupted; stopping\n"));
    } else {
      EXPECT_TRUE(Has(again, "] watching " + file + ": flush count 1, 5 spaces\n"));
      EXPECT_TRUE(Has(again, "+1 row, now 1\n"));
      EXPECT_TRUE(Has(again, "s] idle for 1.5 s; stopping at flush count 3\n"));
    }
  }
}

// unlock removes a lock only when no writer holds the file.
TEST(Follow, StaleLockIsToldApartAndRemovedByUnlock) {
  ScratchDir dir;
  const std::string path = dir.File("run.odb"), lock = dir.File("run.lsm");
  const std::string stale =
      "stale transaction lock " + lock + ": no writer holds the file (qvtdb unlock removes it)";
  WriteBatches(path, false, true, 2);
  std::filesystem::create_directory(lock);
  EXPECT_TRUE(Has(OutputOf({"info", path}), "\ntransaction   " + stale + "\n"));
  const std::string watch = OutputOf({"watch", path, "--until-idle", "0.3", "--interval", "20"}, 0, 20000);
  EXPECT_TRUE(Has(watch, "status: in transaction (" + stale + ")\n"));
  EXPECT_TRUE(Has(watch, "idle for 0.3 s; stopping"));
  {
    qvt_Database writer = qvt_Database::Open(qvt_File::Open(path, 1, true), "BTCH");
    EXPECT_TRUE(Has(OutputOf({"info", path}), "\ntransaction   in progress\n"));
    EXPECT_EQ(RunEnding(1, {"unlock", path}).err,
              "qvtdb: a writer holds " + path + "; its transaction lock " + lock + " stays\n");
    EXPECT_TRUE(std::filesystem::exists(lock));
  }
  EXPECT_EQ(OutputOf({"unlock", path}), path + ": removed the stale transaction lock " + lock + "\n");
  EXPECT_FALSE(std::filesystem::exists(lock));
  EXPECT_EQ(OutputOf({"unlock", path}), path + ": no transaction lock\n");
}

}  // namespace
}  // namespace qvt_test
