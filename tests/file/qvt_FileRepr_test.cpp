// What every file kind shares: the transaction lock's name, WriterActive
// and the base answers of the optional operations. The lock directory and
// the prompts of a real file are tested with the transaction lock.
#include "qvt_FileRepr.h"

#include <filesystem>

#include "qvt_File.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::ScratchDir;

TEST(TransactionLock, NameReplacesExactlyTheOdbEnding) {
  // Only the text from the last dot counts, and only ".odb" exactly.
  const std::pair<const char*, const char*> names[] = {
      {"run.odb", "run.lsm"},
      {"/data/x.y/run.odb", "/data/x.y/run.lsm"},
      {"run.ODB", "run.ODB.lsm"},
      {"data.bin", "data.bin.lsm"},
      {"data", "data.lsm"},
      {"run.odb.bak", "run.odb.bak.lsm"},
      {"run.odbx", "run.odbx.lsm"},
      {".odb", ".lsm"},
      {"", ".lsm"},
      {"dir.odb/run", "dir.odb/run.lsm"},
  };
  for (const auto& n : names) EXPECT_EQ(qvt_FileRepr::TransactionLockName(n.first), n.second) << n.first;
}

class SemaphoreTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("run.odb"); }
  bool LockExists() const { return std::filesystem::is_directory(m_Dir.File("run.lsm")); }
  ScratchDir m_Dir;
};

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
  EXPECT_EQ((std::vector<long long>{f.Length(), f.FileLength(), f.Allocation(), f.Location()}),
            (std::vector<long long>{0, 0, 0, 0}));
  EXPECT_TRUE(f.MustSwap() == omi_Swapper(EndianBig).MustSwap());
  f.WriteSizeRecord(500);  // does nothing in the base
  f.CheckSizeRecord(500);
  EXPECT_EQ(f.Location(), 0);
}

}  // namespace
