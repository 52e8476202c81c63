// The transaction lock as a local file takes and releases it: the directory
// beside the file, read-only files that never lock, the
// PAUSE_FOR_TRANSACTION prompts driven through a child's standard input, and
// what the file's own check answers meanwhile.
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

class TransactionLockTest : public ::testing::Test {
 protected:
  TransactionLockTest() { WriteStatusHeader(m_Name, 0, 1); }
  // Opens the file (read-only, for update or created), sets the lock and
  // says whether the lock and the flag are there and what the file's own
  // check answers: a writer's own lock is a transaction but not another
  // writer's, and a created file has no checker. Then clears the lock and
  // says whether anything is left.
  int LockAndSay(int access) const {
    qvt_File file = qvt_File::Open(m_Name, access, access == utl_FileAccessRead);
    qvt_FileRepr& repr = *file.Repr();
    repr.ReaderSemaphoreSet();
    std::printf("set %s, status %d%s\n", IsDirectory(m_Lock) && repr.InTransaction() ? "locked" : "unlocked",
                repr.FileStatus(), repr.WriterActive() ? ", writer active" : "");
    std::fflush(stdout);
    repr.ReaderSemaphoreClear();
    std::printf(utl_Stat(m_Lock).exists || repr.InTransaction() ? "cleared locked\n" : "cleared\n");
    return 0;
  }
  ScratchDir m_Dir;
  const std::string m_Name = m_Dir.File("run.odb");
  const std::string m_Lock = m_Dir.File("run.lsm");
};

// A read-only file neither locks nor prompts, even when asked to; a lock
// left behind does not stop the next writer; a created file locks too; input that ends, or one line
// longer than the 9 characters a prompt reads (its first 9 end the first
// wait, the rest the second), ends both pauses.
TEST_F(TransactionLockTest, EveryWriterLocksReadOnlyFilesNeverAndEndedInputEndsBothPauses) {
  const std::string prompts = "Before transaction: After transaction: ";
  const struct {
    int access;
    bool leftBehind;
    std::string input, out, err;
  } cases[] = {
      {utl_FileAccessRead, false, "", "set unlocked, status 0\ncleared\n", ""},
      {utl_FileAccessUpdate, true, "", "set locked, status 4\ncleared\n", prompts},
      {utl_FileAccessUpdate, false, "0123456789abc\n", "set locked, status 4\ncleared\n", prompts},
      {utl_FileAccessCreate, false, "", "set locked, status 0\ncleared\n", prompts},
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
  // Releasing a lock never taken is quiet.
  qvt_File::Open(m_Name, utl_FileAccessUpdate, false).Repr()->ReaderSemaphoreClear();
}

TEST_F(TransactionLockTest, PauseHoldsTheWriterAtBothEdgesOfTheTransaction) {
  ChildProcess child([this] { return LockAndSay(utl_FileAccessUpdate); }, {{"PAUSE_FOR_TRANSACTION", ""}});
  // Before the lock is made, the writer prompts and waits.
  ASSERT_TRUE(child.WaitForStderr("Before transaction: ", 20000));
  EXPECT_EQ(child.ErrSoFar(), "Before transaction: ");
  EXPECT_FALSE(child.WaitForStdout("set", 300));
  EXPECT_FALSE(utl_Stat(m_Lock).exists);
  ASSERT_TRUE(child.WriteStdin("go\n"));
  ASSERT_TRUE(child.WaitForStdout("set locked, status 4\n", 20000));
  // After the lock is removed, it prompts and waits again.
  ASSERT_TRUE(child.WaitForStderr("After transaction: ", 20000));
  EXPECT_FALSE(utl_Stat(m_Lock).exists);
  EXPECT_FALSE(child.WaitForStdout("cleared", 300));
  ASSERT_TRUE(child.WriteStdin("123456789\n"));
  const ChildResult result = child.Wait();
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "set locked, status 4\ncleared\n");
  EXPECT_EQ(result.err, "Before transaction: After transaction: ");
}

}  // namespace
