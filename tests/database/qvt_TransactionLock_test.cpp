// The transaction lock as a local file takes and releases it: the directory
// beside the file, read-only files that never lock, the
// PAUSE_FOR_TRANSACTION prompts driven through a child's standard input, and
// the local file's FileStatus and WriterActive.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

bool IsDirectory(const std::string& path) {
  const utl_Stat st(path);
  return st.exists && st.isDirectory;
}

void Say(const char* word) {
  std::printf("%s\n", word);
  std::fflush(stdout);
}

class TransactionLockTest : public ::testing::Test {
 protected:
  TransactionLockTest() { WriteStatusHeader(m_Name, 0, 1); }
  // Opens the file (read-only or for update), sets and clears the lock,
  // saying after each whether the lock and the flag are there.
  int LockAndSay(int access) const {
    qvt_File file = qvt_File::Open(m_Name, access, access == utl_FileAccessRead);
    file.Repr()->ReaderSemaphoreSet();
    Say(IsDirectory(m_Lock) && file.Repr()->InTransaction() ? "set locked" : "set unlocked");
    file.Repr()->ReaderSemaphoreClear();
    Say(utl_Stat(m_Lock).exists || file.Repr()->InTransaction() ? "cleared locked" : "cleared");
    return 0;
  }
  ScratchDir m_Dir;
  const std::string m_Name = m_Dir.File("run.odb");
  const std::string m_Lock = m_Dir.File("run.lsm");
};

// A read-only file neither locks nor prompts, even when asked to; a lock
// left behind does not stop the next writer; input that ends, or one line
// longer than the 9 characters a prompt reads (its first 9 end the first
// wait, the rest the second), ends both pauses.
TEST_F(TransactionLockTest, ReadOnlyFilesNeverLockAndEndedInputEndsBothPauses) {
  const std::string prompts = "Before transaction: After transaction: ";
  const struct {
    int access;
    bool leftBehind;
    std::string input, out, err;
  } cases[] = {
      {utl_FileAccessRead, false, "", "set unlocked\ncleared\n", ""},
      {utl_FileAccessUpdate, true, "", "set locked\ncleared\n", prompts},
      {utl_FileAccessUpdate, false, "0123456789abc\n", "set locked\ncleared\n", prompts},
  };
  for (const auto& c : cases) {
    if (c.leftBehind) {
      ASSERT_TRUE(utl_MakeDirectory(m_Lock));
    }
    const ChildResult result =
        RunChild([&] { return LockAndSay(c.access); }, c.input, {{"PAUSE_FOR_TRANSACTION", "1"}});
    EXPECT_TRUE(result.Succeeded()) << result.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(utl_Stat(m_Lock).exists);
  }
}

TEST_F(TransactionLockTest, PauseHoldsTheWriterAtBothEdgesOfTheTransaction) {
  ChildProcess child([this] { return LockAndSay(utl_FileAccessUpdate); }, {{"PAUSE_FOR_TRANSACTION", ""}});
  // Before the lock is made, the writer prompts and waits.
  ASSERT_TRUE(child.WaitForStderr("Before transaction: ", 20000));
  EXPECT_EQ(child.ErrSoFar(), "Before transaction: ");
  EXPECT_FALSE(child.WaitForStdout("set", 300));
  EXPECT_FALSE(utl_Stat(m_Lock).exists);
  ASSERT_TRUE(child.WriteStdin("go\n"));
  ASSERT_TRUE(child.WaitForStdout("set locked\n", 20000));
  // After the lock is removed, it prompts and waits again.
  ASSERT_TRUE(child.WaitForStderr("After transaction: ", 20000));
  EXPECT_FALSE(utl_Stat(m_Lock).exists);
  EXPECT_FALSE(child.WaitForStdout("cleared", 300));
  ASSERT_TRUE(child.WriteStdin("123456789\n"));
  const ChildResult result = child.Wait();
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "set locked\ncleared\n");
  EXPECT_EQ(result.err, "Before transaction: After transaction: ");
}

// What a reader's check answers as the header and the lock change (the
// checker's own sequence: the file tests); a writer's own lock is not
// another writer; a created file has no checker.
TEST_F(TransactionLockTest, LocalFileAnswersTheCheckersStatus) {
  qvt_File reader = qvt_File::Open(m_Name, utl_FileAccessRead, true);
  qvt_File writer = qvt_File::Open(m_Name, utl_FileAccessUpdate, false);
  const std::vector<std::pair<std::function<void()>, qvt_FileStatus::QvtFileStatus>> steps = {
      {[] {}, qvt_FileStatus::Unchanged},
      {[&] { WriteStatusHeader(m_Name, 1, 1); }, qvt_FileStatus::Updated},
      {[&] { ASSERT_TRUE(utl_MakeDirectory(m_Lock)); }, qvt_FileStatus::InTransaction},
      {[&] { ASSERT_TRUE(utl_RemoveDirectory(m_Lock)); }, qvt_FileStatus::Unchanged},
      {[&] { WriteStatusHeader(m_Name, 1, 2); }, qvt_FileStatus::Recreated},
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
  writer.Repr()->ReaderSemaphoreClear();  // releasing a lock already gone is quiet
  EXPECT_FALSE(writer.Repr()->InTransaction());
  ASSERT_TRUE(utl_MakeDirectory(m_Lock));  // another process's lock counts once this one holds none
  EXPECT_TRUE(writer.Repr()->WriterActive());
  ASSERT_TRUE(utl_RemoveFile(m_Name));
  qvt_File created = qvt_File::Open(m_Name, utl_FileAccessCreate, false);
  EXPECT_EQ(created.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  EXPECT_FALSE(created.Repr()->WriterActive());
  ASSERT_TRUE(utl_RemoveDirectory(m_Lock));
}

}  // namespace
