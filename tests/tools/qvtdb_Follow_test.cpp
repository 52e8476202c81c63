// qvtdb demo and qvtdb watch as processes beside a writer: the demo runs to
// its end with every frame followed once, and watch reports each refresh, a
// re-created file, and stops when idle or interrupted.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_QvtdbRunner.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "qvt_RemoteTestSupport.h"
#include "qvt_TestSupport.h"

namespace qvt_test {
namespace {

constexpr int kTimeoutMs = 120000;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Follow : public ::testing::Test {
 protected:
  ScratchDir m_Dir;
};

// The reader may open the file at any moment of the writer's run (early,
// or when it is all over): whatever it finds at opening counts as seen.
void ExpectDemoRan(const ChildResult& result, const std::string& file, int frames, const std::string& kind) {
  QVT_EXPECT_EXIT(result, 0);
  const std::string& out = result.out;
  EXPECT_TRUE(Has(out, "reader: opened " + file + " at flush count ")) << out;
  EXPECT_TRUE(Has(out, ": " + std::to_string(frames) + " frames planned on 40 nodes\n")) << out;
  for (int frame = 1; frame <= frames; ++frame) {
    EXPECT_EQ(Count(out, "writer: frame " + std::to_string(frame) + "/"), 1) << out;
    EXPECT_EQ(Count(out, "          frame " + std::to_string(frame) + "  t="), 1) << "frame " << frame << "\n" << out;
  }
  EXPECT_TRUE(Has(out, "120 nodal values read, max |U| = 0.010000  (converged in ")) << out;
  EXPECT_TRUE(Has(out, "reader: [########################] " + std::to_string(frames) + "/" +
                           std::to_string(frames) + " frames\n"))
      << out;
  EXPECT_TRUE(Has(out, "          message: analysis complete\n")) << out;
  EXPECT_TRUE(Has(out, "reader: the writer finished; " + std::to_string(frames) + " frames followed in ")) << out;
  EXPECT_TRUE(Has(out, "\ninfo of " + file + ":\nfile          " + file + "\nkind          " + kind + "\n")) << out;
  EXPECT_TRUE(Has(out, "  double array  " + std::to_string(frames) + "\n")) << out;
}

TEST_F(Follow, DemoRunsToTheEndWithEveryFrameFollowedOnce) {
  const std::string file = m_Dir.File("run.odb");
  const ChildResult result = RunQvtdb({"demo", file, "--frames", "5", "--interval", "100"}, kTimeoutMs);
  ExpectDemoRan(result, file, 5, "plain");
  EXPECT_TRUE(Has(result.out, "reader: refresh 1, flush count ")) << result.out;
  EXPECT_EQ(result.err, "");
  QVT_EXPECT_EXIT(RunQvtdb({"check", file}), 0);
}

// A writer that never pauses gets ahead of the reader between its refresh
// and its look at the file; with more than 511 objects the linkage also
// spans two blocks.
TEST_F(Follow, WriterThatNeverPausesIsFollowedToTheEnd) {
  const std::string file = m_Dir.File("fast.odb");
  const ChildResult result = RunQvtdb({"demo", file, "--frames", "600", "--interval", "0"}, kTimeoutMs);
  QVT_EXPECT_EXIT(result, 0);
  EXPECT_TRUE(Has(result.out, "reader: [########################] 600/600 frames\n")) << result.err;
  EXPECT_TRUE(Has(result.out, "  double array  600\n"));
  EXPECT_EQ(result.err, "");
  const ChildResult check = RunQvtdb({"check", file});
  QVT_EXPECT_EXIT(check, 0);
  EXPECT_TRUE(Has(check.out, ": sound plain database, 606 objects (601 arrays, 4 tables, 1 tagged stream)")) << check.out;
}

TEST_F(Follow, CompressedDemoIsFollowedToo) {
  const std::string file = m_Dir.File("run.cdb");
  const ChildResult result = RunQvtdb({"demo", file, "--compressed", "--frames", "4", "--interval", "30"}, kTimeoutMs);
  ExpectDemoRan(result, file, 4, "compressed");
  QVT_EXPECT_EXIT(RunQvtdb({"check", file}), 0);
}

TEST_F(Follow, DemoWithoutAFileWritesInTheCurrentFolderAndSaysWhere) {
  const ChildResult result = RunQvtdb({"demo", "--frames", "2", "--interval", "0"}, kTimeoutMs, m_Dir.Path());
  ExpectDemoRan(result, "qvtdb-demo.odb", 2, "plain");
  EXPECT_EQ(result.out.rfind("demo: the writer creates " + m_Dir.File("qvtdb-demo.odb") +
                                 " and writes 2 frames; a second process follows it\n",
                             0),
            0u)
      << result.out;
  // The demo's own file is simply written again.
  QVT_EXPECT_EXIT(RunQvtdb({"demo", "--frames", "1", "--interval", "0"}, kTimeoutMs, m_Dir.Path()), 0);
}

TEST_F(Follow, DemoRefusesToOverwriteAGivenFileWithoutForce) {
  const std::string file = m_Dir.File("keep.odb");
  const std::vector<unsigned char> precious{'k', 'e', 'e', 'p'};
  WriteAll(file, precious);
  const ChildResult refused = RunQvtdb({"demo", file, "--frames", "1"});
  QVT_EXPECT_EXIT(refused, 1);
  EXPECT_EQ(refused.err, "qvtdb: " + file + " exists; add --force to overwrite it\n");
  EXPECT_EQ(ReadAll(file), precious);
  QVT_EXPECT_EXIT(RunQvtdb({"demo", file, "--frames", "1", "--interval", "0", "--force"}, kTimeoutMs), 0);
}

// A writer in a child process: creates the database with one table, says
// "ready", then writes batches of two rows, each inside a transaction ending
// with a flush, every one when a line arrives on its standard input; closes
// at one more line.
int WriteBatches(const std::string& path, long creationTime, int batches) {
  qvt_File file = qvt_File::Open(path, 2, false);
  qvt_Database db = qvt_Database::Create(file, "TEST", "watched", creationTime);
  {
    qvt_TableMetadata shape("rows", 1);
    shape.DefineIntField("n");
    qvt_Table table = db.Table(shape, -1, -1);
    table.Flush();
    db.Flush();
    std::printf("ready\n");
    std::fflush(stdout);
    for (int batch = 0; batch < batches; ++batch) {
      char line[16];
      if (std::fgets(line, sizeof line, stdin) == nullptr) return 3;
      qvt_ReaderSemaphoreProxy transaction(db);
      for (int i = 0; i < 2; ++i) table.NewRow().WriteFieldInt("n", batch * 2 + i);
      table.Flush();
      db.Flush();
    }
    // And close (one more flush) when told to.
    char line[16];
    if (batches > 0 && std::fgets(line, sizeof line, stdin) == nullptr) return 3;
  }
  return 0;
}

// file names the database at path: the path itself, or a URL of it.
void WatchReportsEachBatch(const std::string& path, const std::string& file) {
  ChildProcess writer([&] { return WriteBatches(path, 1000, 3); });
  ASSERT_TRUE(writer.WaitForStdout("ready\n", kTimeoutMs)) << writer.ErrSoFar();
  ChildProcess watch(QvtdbProcess({"watch", file, "--until-idle", "1.5", "--interval", "20"}));
  ASSERT_TRUE(watch.WaitForStdout("spaces\n", kTimeoutMs)) << watch.ErrSoFar();
  // One batch at a time, each seen by watch before the next is written.
  for (const char* rows : {"now 2\n", "now 4\n", "now 6\n"}) {
    ASSERT_TRUE(writer.WriteStdin("go\n"));
    ASSERT_TRUE(watch.WaitForStdout(rows, 20000)) << watch.OutSoFar() << watch.ErrSoFar();
  }
  ASSERT_TRUE(writer.WriteStdin("close\n"));
  EXPECT_TRUE(writer.Wait(kTimeoutMs).Succeeded());
  const ChildResult result = watch.Wait(kTimeoutMs);
  QVT_EXPECT_EXIT(result, 0);
  const std::string& out = result.out;
  EXPECT_EQ(out.rfind("watching " + file + ": flush count 1, 4 spaces\n", 0), 0u) << out;
  EXPECT_EQ(Count(out, "refresh: flush count "), 4) << out;  // three batches and the close
  EXPECT_EQ(Count(out, "status: updated\n"), 4) << out;
  EXPECT_TRUE(Has(out, "table 4 (class rows): +2 rows, now 2\n")) << out;
  EXPECT_TRUE(Has(out, "table 4 (class rows): +2 rows, now 4\n")) << out;
  EXPECT_TRUE(Has(out, "table 4 (class rows): +2 rows, now 6\n")) << out;
  EXPECT_TRUE(Has(out, "] refresh: flush count 5\n             no new objects, rows or records\n")) << out;
  EXPECT_TRUE(Has(out, "s] idle for 1.5 s; stopping at flush count 5\n")) << out;
}

TEST_F(Follow, WatchReportsEachRefreshAndStopsWhenIdle) {
  WatchReportsEachBatch(m_Dir.File("watched.odb"), m_Dir.File("watched.odb"));
}

TEST_F(Follow, WatchFollowsAUrlThroughTheAssistant) {
  RemoteEnvironment remote;
  WatchReportsEachBatch(m_Dir.File("watched.odb"), RemoteEnvironment::Url(m_Dir.File("watched.odb")));
}

// A first database, then watch, then a second database under the same
// name: written into the same file with another creation time, or into a
// new file (the old one removed) with the same creation time.
void ExpectWatchFollowsTheNewDatabase(const std::string& file, bool removeFirst, long secondCreationTime) {
  {
    ChildProcess first([&] { return WriteBatches(file, 1000, 0); });
    ASSERT_TRUE(first.Wait(kTimeoutMs).Succeeded());
  }
  ChildProcess watch(QvtdbProcess({"watch", file, "--interval", "20"}));
  ASSERT_TRUE(watch.WaitForStdout("spaces\n", kTimeoutMs)) << watch.ErrSoFar();
  if (removeFirst) {
    ASSERT_EQ(std::remove(file.c_str()), 0);
  }
  ChildProcess second([&] { return WriteBatches(file, secondCreationTime, 1); });
  ASSERT_TRUE(second.WaitForStdout("ready\n", kTimeoutMs));
  // Watch takes the new database up before its rows come.
  ASSERT_TRUE(watch.WaitForStdout("] watching " + file, 20000)) << watch.OutSoFar() << watch.ErrSoFar();
  ASSERT_TRUE(second.WriteStdin("go\nclose\n"));
  EXPECT_TRUE(second.Wait(kTimeoutMs).Succeeded());
  EXPECT_TRUE(watch.WaitForStdout("+2 rows, now 2\n", 20000)) << watch.OutSoFar() << watch.ErrSoFar();
  ::kill(watch.Pid(), SIGINT);
  const ChildResult result = watch.Wait(kTimeoutMs);
  QVT_EXPECT_EXIT(result, 0);
  EXPECT_TRUE(Has(result.out, "status: re-created\n")) << result.out;
  EXPECT_EQ(Count(result.out, "watching " + file + ": flush count "), 2) << result.out;
  EXPECT_TRUE(Has(result.out, "s] interrupted; stopping\n")) << result.out;
}

TEST_F(Follow, WatchFollowsADatabaseCreatedAgainInTheSameFile) {
  ExpectWatchFollowsTheNewDatabase(m_Dir.File("again.odb"), false, 2000);
}

TEST_F(Follow, WatchFollowsADatabaseCreatedAgainAsANewFile) {
  ExpectWatchFollowsTheNewDatabase(m_Dir.File("again.odb"), true, 1000);
}

}  // namespace
}  // namespace qvt_test
