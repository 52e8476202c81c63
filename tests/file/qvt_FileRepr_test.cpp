// What every file kind shares: the transaction lock's name and directory,
// the in-transaction flag, WriterActive, and the PAUSE_FOR_TRANSACTION
// prompts (driven through a child's standard input).
#include "qvt_FileRepr.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "qvt_ChildProcess.h"
#include "qvt_File.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

using qvt_test::ScratchDir;

TEST(TransactionLock, NameReplacesExactlyTheOdbEnding) {
  // Only the text from the last dot counts, and only ".odb" exactly.
  const std::pair<const char*, const char*> names[] = {
      {"run.odb", "run.lsm"},           {"/data/x.y/run.odb", "/data/x.y/run.lsm"}, {"run.ODB", "run.ODB.lsm"},
      {"data.bin", "data.bin.lsm"},     {"data", "data.lsm"},                      {"run.odb.bak", "run.odb.bak.lsm"},
      {"run.odbx", "run.odbx.lsm"},     {".odb", ".lsm"},                          {"", ".lsm"},
      {"dir.odb/run", "dir.odb/run.lsm"},
  };
  for (const auto& n : names) EXPECT_EQ(qvt_FileRepr::TransactionLockName(n.first), n.second) << n.first;
}

class SemaphoreTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("run.odb"); }
  std::string Lock() const { return m_Dir.File("run.lsm"); }
  bool LockExists() const { return std::filesystem::is_directory(Lock()); }
  // A child that opens the file for update and runs one transaction, with
  // PAUSE_FOR_TRANSACTION set to pause.
  qvt_test::ChildProcess TransactionChild(const std::string& pause) const {
    const std::string name = Name();
    return qvt_test::ChildProcess(
        [name] {
          qvt_File f = qvt_File::Open(name, 1, false);
          f.Repr()->ReaderSemaphoreSet();
          f.Repr()->ReaderSemaphoreClear();
          return 0;
        },
        {{"PAUSE_FOR_TRANSACTION", pause}});
  }

  ScratchDir m_Dir;
};

TEST_F(SemaphoreTest, WriterCreatesAndRemovesTheLockDirectory) {
  qvt_File f = qvt_File::Open(Name(), 2, false);
  qvt_FileRepr* r = f.Repr();
  EXPECT_FALSE(r->InTransaction());
  r->ReaderSemaphoreSet();
  EXPECT_TRUE(LockExists());
  EXPECT_TRUE(r->InTransaction());
  EXPECT_FALSE(r->WriterActive());  // its own lock is no other writer
  r->ReaderSemaphoreClear();
  EXPECT_FALSE(LockExists());
  EXPECT_FALSE(r->InTransaction());
}

TEST_F(SemaphoreTest, LeftoverLockDoesNotStopTheNextWriter) {
  ASSERT_TRUE(utl_MakeDirectory(Lock()));
  qvt_File f = qvt_File::Open(Name(), 2, false);
  f.Repr()->ReaderSemaphoreSet();
  EXPECT_TRUE(f.Repr()->InTransaction());
  f.Repr()->ReaderSemaphoreClear();
  EXPECT_FALSE(LockExists());
  // Clearing a lock that is gone is no failure either.
  f.Repr()->ReaderSemaphoreClear();
  EXPECT_FALSE(f.Repr()->InTransaction());
}

TEST_F(SemaphoreTest, ReadOnlyFileNeitherLocksNorPauses) {
  qvt_File::Open(Name(), 2, false);
  const std::string name = Name();
  const std::string lock = Lock();
  // With the pause switched on and no input, a pause would block until the
  // timeout; the read-only file must not prompt at all.
  qvt_test::ChildProcess child(
      [&] {
        qvt_File f = qvt_File::Open(name, 0, true);
        f.Repr()->ReaderSemaphoreSet();
        const bool locked = std::filesystem::exists(lock);
        const bool flagged = f.Repr()->InTransaction();
        f.Repr()->ReaderSemaphoreClear();
        std::printf("%d %d\n", locked ? 1 : 0, flagged ? 1 : 0);
        return 0;
      },
      {{"PAUSE_FOR_TRANSACTION", "1"}});
  const qvt_test::ChildResult r = child.Wait(10000);
  ASSERT_TRUE(r.Succeeded()) << r.err;
  EXPECT_EQ(r.out, "0 0\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(SemaphoreTest, PauseWaitsForALineAtEachEdgeOfTheTransaction) {
  qvt_File::Open(Name(), 2, false);
  const std::string name = Name();
  const std::string lock = Lock();
  qvt_test::ChildProcess child(
      [&] {
        qvt_File f = qvt_File::Open(name, 1, false);
        f.Repr()->ReaderSemaphoreSet();
        std::printf("locked %d\n", std::filesystem::exists(lock) ? 1 : 0);
        std::fflush(stdout);
        f.Repr()->ReaderSemaphoreClear();
        std::printf("released %d\n", std::filesystem::exists(lock) ? 1 : 0);
        return 0;
      },
      {{"PAUSE_FOR_TRANSACTION", ""}});
  ASSERT_TRUE(child.WaitForStderr("Before transaction: ", 10000));
  // Prompted and waiting: the lock is not made before the line arrives.
  EXPECT_FALSE(child.WaitForStdout("locked", 200));
  EXPECT_FALSE(LockExists());
  // A line longer than 9 characters: the first 9 end this wait, the rest
  // (with its newline) ends the next one.
  child.WriteStdin("0123456789abc\n");
  ASSERT_TRUE(child.WaitForStdout("released 0\n", 10000));
  const qvt_test::ChildResult r = child.Wait(10000);
  ASSERT_TRUE(r.Succeeded()) << r.err;
  EXPECT_EQ(r.out, "locked 1\nreleased 0\n");
  EXPECT_EQ(r.err, "Before transaction: After transaction: ");
}

TEST_F(SemaphoreTest, AfterPromptComesOnlyOnceTheLockIsGone) {
  qvt_File::Open(Name(), 2, false);
  qvt_test::ChildProcess child = TransactionChild("yes");
  ASSERT_TRUE(child.WaitForStderr("Before transaction: ", 10000));
  child.WriteStdin("go\n");
  ASSERT_TRUE(child.WaitForStderr("After transaction: ", 10000));
  EXPECT_FALSE(LockExists());
  child.WriteStdin("done\n");
  const qvt_test::ChildResult r = child.Wait(10000);
  EXPECT_TRUE(r.Succeeded()) << r.err;
}

TEST_F(SemaphoreTest, PauseEndsAtEndOfInput) {
  qvt_File::Open(Name(), 2, false);
  qvt_test::ChildProcess child = TransactionChild("1");
  child.CloseStdin();
  const qvt_test::ChildResult r = child.Wait(10000);
  EXPECT_TRUE(r.Succeeded()) << r.err;
  EXPECT_EQ(r.err, "Before transaction: After transaction: ");
}

// A file kind whose status answer the test chooses, to pin WriterActive.
class StatusFile : public qvt_FileRepr {
 public:
  StatusFile(const cow_String& name, bool readOnly) : qvt_FileRepr(name), m_ReadOnly(readOnly) {}
  bool ReadOnly() const override { return m_ReadOnly; }
  void Seek(utl_FileOffset offset) override { m_Position = offset; }
  void Flush() override {}
  bool Extend(utl_FileOffset) override { return false; }
  int Read(char*, int) override { return 0; }
  int Write(const char*, int count) override { return count; }
  bool ExtendFile(utl_FileOffset) override { return false; }
  void TrimToLength() override {}
  qvt_FileStatus::QvtFileStatus FileStatus() override {
    ++m_Checks;
    return m_Status;
  }

  qvt_FileStatus::QvtFileStatus m_Status = qvt_FileStatus::Unchanged;
  int m_Checks = 0;

 private:
  bool m_ReadOnly;
};

TEST_F(SemaphoreTest, WriterActiveReportsOnlyAnotherWritersLock) {
  StatusFile reader(Name(), true);
  EXPECT_FALSE(reader.WriterActive());
  reader.m_Status = qvt_FileStatus::InTransaction;
  EXPECT_TRUE(reader.WriterActive());
  reader.m_Status = qvt_FileStatus::Updated;
  EXPECT_FALSE(reader.WriterActive());
  // A read-only file's own Set takes no lock, so other writers still show.
  reader.m_Status = qvt_FileStatus::InTransaction;
  reader.ReaderSemaphoreSet();
  EXPECT_TRUE(reader.WriterActive());
  EXPECT_FALSE(LockExists());

  StatusFile writer(Name(), false);
  writer.m_Status = qvt_FileStatus::InTransaction;
  writer.ReaderSemaphoreSet();
  const int checks = writer.m_Checks;
  EXPECT_FALSE(writer.WriterActive());
  EXPECT_EQ(writer.m_Checks, checks);  // no status check while it holds the lock
  writer.ReaderSemaphoreClear();
  EXPECT_TRUE(writer.WriterActive());
}

TEST(FileReprBase, BaseAnswersOfTheOptionalOperations) {
  StatusFile f("x.odb", false);
  EXPECT_EQ(f.FileName(), "x.odb");
  EXPECT_EQ(f.CheckNODBCache(), "");
  EXPECT_EQ(f.Length(), 0);
  EXPECT_EQ(f.FileLength(), 0);
  EXPECT_EQ(f.Allocation(), 0);
  EXPECT_EQ(f.Location(), 0);
  EXPECT_TRUE(f.MustSwap() == omi_Swapper(EndianBig).MustSwap());
  f.WriteSizeRecord(500);  // does nothing in the base
  f.CheckSizeRecord(500);
  EXPECT_EQ(f.Location(), 0);
}

}  // namespace
