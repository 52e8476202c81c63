// The transaction lock as a file takes and releases it: the directory's
// name beside the file, read-only files that never lock, the
// PAUSE_FOR_TRANSACTION prompts driven through a child's standard input,
// and the local file's FileStatus and WriterActive.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

using qvt_test::ChildProcess;
using qvt_test::ScratchDir;

bool IsDirectory(const std::string& path) {
  const utl_Stat st(path);
  return st.exists && st.isDirectory;
}

// Prints a progress word on standard output and pushes it to the parent.
void Say(const char* word) {
  std::fputs(word, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

class TransactionLockTest : public ::testing::Test {
 protected:
  ScratchDir m_Dir;
};

// The lock is a directory named after the file; one left behind does not
// stop the next writer, and releasing one already gone is quiet.
TEST_F(TransactionLockTest, WritableFileMakesAndRemovesTheLockBesideIt) {
  const struct {
    const char* file;
    const char* lock;
    bool leftBehind;
  } cases[] = {{"run.odb", "run.lsm", false}, {"run.ODB", "run.ODB.lsm", false},
               {"data.bin", "data.bin.lsm", false}, {"data", "data.lsm", false}, {"old.odb", "old.lsm", true}};
  for (const auto& c : cases) {
    const std::string name = m_Dir.File(c.file);
    qvt_test::WriteStatusHeader(name, 0, 1);
    if (c.leftBehind) {
      ASSERT_TRUE(utl_MakeDirectory(m_Dir.File(c.lock)));
    }
    qvt_File file = qvt_File::Open(name, utl_FileAccessUpdate, false);
    file.Repr()->ReaderSemaphoreSet();
    EXPECT_TRUE(IsDirectory(m_Dir.File(c.lock))) << c.file;
    EXPECT_TRUE(file.Repr()->InTransaction());
    file.Repr()->ReaderSemaphoreClear();
    EXPECT_FALSE(utl_Stat(m_Dir.File(c.lock)).exists) << c.file;
    EXPECT_FALSE(file.Repr()->InTransaction());
    file.Repr()->ReaderSemaphoreClear();
  }
}

TEST_F(TransactionLockTest, ReadOnlyFileNeitherLocksNorPausesEvenWhenAskedTo) {
  const std::string name = m_Dir.File("run.odb");
  qvt_test::WriteStatusHeader(name, 0, 1);
  ChildProcess child(
      [&] {
        qvt_File file = qvt_File::Open(name, utl_FileAccessRead, true);
        file.Repr()->ReaderSemaphoreSet();
        Say(IsDirectory(m_Dir.File("run.lsm")) ? "locked" : "unlocked");
        Say(file.Repr()->InTransaction() ? "flagged" : "unflagged");
        file.Repr()->ReaderSemaphoreClear();
        Say("done");
        return 0;
      },
      {{"PAUSE_FOR_TRANSACTION", "1"}});
  // Standard input stays open: a pause would wait here until the timeout.
  ASSERT_TRUE(child.WaitForStdout("done\n", 20000)) << child.ErrSoFar();
  const qvt_test::ChildResult result = child.Wait();
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(result.out, "unlocked\nunflagged\ndone\n");
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(utl_Stat(m_Dir.File("run.lsm")).exists);
}

TEST_F(TransactionLockTest, PauseHoldsTheWriterAtBothEdgesOfTheTransaction) {
  const std::string name = m_Dir.File("run.odb");
  const std::string lock = m_Dir.File("run.lsm");
  qvt_test::WriteStatusHeader(name, 0, 1);
  ChildProcess child(
      [&] {
        qvt_File file = qvt_File::Open(name, utl_FileAccessUpdate, false);
        file.Repr()->ReaderSemaphoreSet();
        // Checked here: the writer goes on to release the lock at once.
        Say(IsDirectory(lock) ? "set locked" : "set unlocked");
        file.Repr()->ReaderSemaphoreClear();
        Say("cleared");
        return 0;
      },
      {{"PAUSE_FOR_TRANSACTION", ""}});

  // Before the lock is made, the writer prompts and waits.
  ASSERT_TRUE(child.WaitForStderr("Before transaction: ", 20000));
  EXPECT_EQ(child.ErrSoFar(), "Before transaction: ");
  EXPECT_FALSE(child.WaitForStdout("set", 300));
  EXPECT_FALSE(utl_Stat(lock).exists);

  ASSERT_TRUE(child.WriteStdin("go\n"));
  ASSERT_TRUE(child.WaitForStdout("set", 20000));

  // After the lock is removed, it prompts and waits again.
  ASSERT_TRUE(child.WaitForStderr("After transaction: ", 20000));
  EXPECT_EQ(child.ErrSoFar(), "Before transaction: After transaction: ");
  EXPECT_FALSE(utl_Stat(lock).exists);
  EXPECT_FALSE(child.WaitForStdout("cleared", 300));

  ASSERT_TRUE(child.WriteStdin("123456789\n"));
  const qvt_test::ChildResult result = child.Wait();
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "set locked\ncleared\n");
  EXPECT_EQ(result.err, "Before transaction: After transaction: ");
}

// Input that ends, or one line longer than the 9 characters a prompt reads
// (its first 9 end the first wait, the rest the second), ends both pauses.
TEST_F(TransactionLockTest, ClosedInputOrOneLongLineEndsBothPauses) {
  const std::string name = m_Dir.File("run.odb");
  qvt_test::WriteStatusHeader(name, 0, 1);
  for (const std::string input : {"", "0123456789abc\n"}) {
    const qvt_test::ChildResult result = qvt_test::RunChild(
        [&] {
          qvt_File file = qvt_File::Open(name, utl_FileAccessUpdate, false);
          file.Repr()->ReaderSemaphoreSet();
          file.Repr()->ReaderSemaphoreClear();
          Say("done");
          return 0;
        },
        input, {{"PAUSE_FOR_TRANSACTION", "yes"}});
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.out, "done\n");
    EXPECT_EQ(result.err, "Before transaction: After transaction: ");
  }
}

// What a reader's check answers as the header and the lock change; a
// writer's own lock is not another writer; a created file has no checker;
// any file opens at this layer (a short one is for the database layer to
// refuse).
TEST_F(TransactionLockTest, LocalFileAnswersTheCheckersStatus) {
  const std::string name = m_Dir.File("run.odb");
  const std::string lock = m_Dir.File("run.lsm");
  qvt_test::WriteStatusHeader(name, 0, 1);
  qvt_File reader = qvt_File::Open(name, utl_FileAccessRead, true);
  qvt_File writer = qvt_File::Open(name, utl_FileAccessUpdate, false);
  const std::vector<std::pair<std::function<void()>, qvt_FileStatus::QvtFileStatus>> steps = {
      {[] {}, qvt_FileStatus::Unchanged},
      {[&] { qvt_test::WriteStatusHeader(name, 1, 1); }, qvt_FileStatus::Updated},
      {[] {}, qvt_FileStatus::Unchanged},
      {[&] { ASSERT_TRUE(utl_MakeDirectory(lock)); }, qvt_FileStatus::InTransaction},
      {[&] { ASSERT_TRUE(utl_RemoveDirectory(lock)); }, qvt_FileStatus::Unchanged},
      {[&] { qvt_test::WriteStatusHeader(name, 1, 2); }, qvt_FileStatus::Recreated},
      {[] {}, qvt_FileStatus::Recreated},
  };
  for (const auto& step : steps) {
    step.first();
    EXPECT_EQ(reader.Repr()->FileStatus(), step.second) << &step - steps.data();
    EXPECT_EQ(reader.Repr()->WriterActive(), step.second == qvt_FileStatus::InTransaction);
  }
  writer.Repr()->ReaderSemaphoreSet();
  EXPECT_EQ(writer.Repr()->FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_FALSE(writer.Repr()->WriterActive());
  writer.Repr()->ReaderSemaphoreClear();
  ASSERT_TRUE(utl_MakeDirectory(lock));  // another process's lock counts once this one holds none
  EXPECT_TRUE(writer.Repr()->WriterActive());
  ASSERT_TRUE(utl_RemoveDirectory(lock));
  ASSERT_TRUE(utl_RemoveFile(name));
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::CheckFailed);

  ASSERT_TRUE(utl_MakeDirectory(lock));
  qvt_File created = qvt_File::Open(name, utl_FileAccessCreate, false);
  EXPECT_EQ(created.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  EXPECT_FALSE(created.Repr()->WriterActive());
  ASSERT_TRUE(utl_RemoveFile(name));
  EXPECT_EQ(created.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_RemoveDirectory(lock));
  qvt_test::WriteAll(name, {1, 2, 3});
  EXPECT_EQ(qvt_File::Open(name, utl_FileAccessUpdate, false).Repr()->FileStatus(), qvt_FileStatus::CheckFailed);
}

}  // namespace
