// The transaction lock as a file takes and releases it: the directory's
// name beside the file, read-only files that never lock, the
// PAUSE_FOR_TRANSACTION prompts driven through a child's standard input,
// and the local file's FileStatus and WriterActive.
#include <gtest/gtest.h>

#include <cstdio>
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

TEST_F(TransactionLockTest, WritableFileMakesAndRemovesTheLockBesideIt) {
  struct Case {
    const char* file;
    const char* lock;
  };
  for (const Case& c : {Case{"run.odb", "run.lsm"}, Case{"run.ODB", "run.ODB.lsm"},
                        Case{"data.bin", "data.bin.lsm"}, Case{"data", "data.lsm"}}) {
    const std::string name = m_Dir.File(c.file);
    qvt_test::WriteStatusHeader(name, 0, 1);
    qvt_File file = qvt_File::Open(name, utl_FileAccessUpdate, false);
    file.Repr()->ReaderSemaphoreSet();
    EXPECT_TRUE(IsDirectory(m_Dir.File(c.lock))) << c.file;
    EXPECT_TRUE(file.Repr()->InTransaction());
    file.Repr()->ReaderSemaphoreClear();
    EXPECT_FALSE(utl_Stat(m_Dir.File(c.lock)).exists) << c.file;
    EXPECT_FALSE(file.Repr()->InTransaction());
  }
}

TEST_F(TransactionLockTest, LockLeftBehindDoesNotStopTheNextWriter) {
  const std::string name = m_Dir.File("run.odb");
  qvt_test::WriteStatusHeader(name, 0, 1);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("run.lsm")));
  qvt_File file = qvt_File::Open(name, utl_FileAccessUpdate, false);
  EXPECT_NO_THROW(file.Repr()->ReaderSemaphoreSet());
  EXPECT_TRUE(file.Repr()->InTransaction());
  EXPECT_NO_THROW(file.Repr()->ReaderSemaphoreClear());
  EXPECT_FALSE(utl_Stat(m_Dir.File("run.lsm")).exists);
  // Releasing a lock that is already gone is quiet too.
  EXPECT_NO_THROW(file.Repr()->ReaderSemaphoreClear());
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

TEST_F(TransactionLockTest, LocalFileAnswersTheCheckersStatus) {
  const std::string name = m_Dir.File("run.odb");
  qvt_test::WriteStatusHeader(name, 0, 1);
  qvt_File reader = qvt_File::Open(name, utl_FileAccessRead, true);
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  qvt_test::WriteStatusHeader(name, 1, 1);
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::Updated);
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("run.lsm")));
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_TRUE(reader.Repr()->WriterActive());
  ASSERT_TRUE(utl_RemoveDirectory(m_Dir.File("run.lsm")));
  EXPECT_FALSE(reader.Repr()->WriterActive());
  qvt_test::WriteStatusHeader(name, 1, 2);
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::Recreated);
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::Recreated);
  ASSERT_TRUE(utl_RemoveFile(name));
  EXPECT_EQ(reader.Repr()->FileStatus(), qvt_FileStatus::CheckFailed);
}

TEST_F(TransactionLockTest, UpdatedFileChecksButItsOwnLockIsNotAnotherWriter) {
  const std::string name = m_Dir.File("run.odb");
  qvt_test::WriteStatusHeader(name, 0, 1);
  qvt_File writer = qvt_File::Open(name, utl_FileAccessUpdate, false);
  writer.Repr()->ReaderSemaphoreSet();
  EXPECT_EQ(writer.Repr()->FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_FALSE(writer.Repr()->WriterActive());
  writer.Repr()->ReaderSemaphoreClear();
  // Another process's lock counts once this one holds none.
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("run.lsm")));
  EXPECT_TRUE(writer.Repr()->WriterActive());
}

TEST_F(TransactionLockTest, CreatedFileHasNoCheckerAndAnswersUnchanged) {
  const std::string name = m_Dir.File("run.odb");
  qvt_File created = qvt_File::Open(name, utl_FileAccessCreate, false);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("run.lsm")));
  EXPECT_EQ(created.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  EXPECT_FALSE(created.Repr()->WriterActive());
  ASSERT_TRUE(utl_RemoveFile(name));
  EXPECT_EQ(created.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
}

TEST_F(TransactionLockTest, OpeningForReadOrUpdateDoesNotNeedADatabase) {
  // The file layer opens any file; a short one is for the database layer
  // to refuse with its own message.
  const std::string name = m_Dir.File("tiny.bin");
  qvt_test::WriteAll(name, {1, 2, 3});
  EXPECT_NO_THROW(qvt_File::Open(name, utl_FileAccessRead, true));
  qvt_File file = qvt_File::Open(name, utl_FileAccessUpdate, false);
  EXPECT_EQ(file.Repr()->FileStatus(), qvt_FileStatus::CheckFailed);
}

}  // namespace
