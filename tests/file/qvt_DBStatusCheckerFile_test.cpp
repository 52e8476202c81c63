// The status check on raw files whose header bytes the tests write: the
// answers 0 to 4, what is kept between checks, and the notifications.
#include "qvt_DBStatusCheckerFile.h"

#include <string>
#include <vector>

#include "qvt_DBStatusCheckerFileLocal.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::WriteStatusHeader;

// Records every notification, in order.
class RecordingChecker : public qvt_DBStatusCheckerFile {
 public:
  explicit RecordingChecker(const cow_String& name) : qvt_DBStatusCheckerFile(name) {}
  std::vector<int> statuses;
  int flushChanges = 0;
  bool throwOnNotify = false;

 protected:
  void StatusChecked(qvt_FileStatus::QvtFileStatus status) override {
    statuses.push_back(status);
    if (throwOnNotify) NEX_THROW_TEXT("notification refused");
  }
  void FlushCountChanged() override { ++flushChanges; }
};

class StatusCheckerTest : public ::testing::Test {
 protected:
  std::string DbName() const { return m_Dir.File("run.odb"); }
  std::string LockName() const { return m_Dir.File("run.lsm"); }
  qvt_test::ScratchDir m_Dir;
};

// One checker through a sequence of changes of the file: each row the
// header written (or the file removed), a cut, whether the lock directory
// is there, the answer and the flush count kept after it. A new flush count
// answers Updated once and is kept; a new creation time answers Recreated
// on every call and keeps nothing; a missing or short file answers
// CheckFailed; the lock directory answers InTransaction before anything
// else. A failing notification turns the answer into CheckFailed, notified
// after the plain answer, never an exception.
TEST_F(StatusCheckerTest, AnswersKeptValuesAndNotificationsThroughASequenceOfChanges) {
  QVT_EXPECT_THROW_TEXT(RecordingChecker checker(DbName()), utl_FileExceptionNoFile,
                        "***ERROR: No such file: " + DbName() + ".");
  qvt_test::WriteAll(DbName(), std::vector<unsigned char>(519, 0xEE));  // one value whole: both zero
  RecordingChecker shortFile(DbName());
  EXPECT_EQ(std::make_pair(shortFile.FlushCount(), shortFile.CreationTime()), std::make_pair(0, 0));
  WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  EXPECT_TRUE(checker.statuses.empty());
  const int kRemoved = -1;
  const struct {
    const char* what;
    int flushes, time, cutTo;
    bool lock;
    int status, flushCount;
  } steps[] = {
      {"unchanged", 3, 99, -1, false, 0, 3},
      {"cut to 519", 3, 99, 519, false, 3, 3},
      {"cut to 520", 3, 99, 520, false, 0, 3},
      {"flushed", 4, 99, -1, false, 2, 4},
      {"fewer flushes", 1, 99, -1, false, 2, 1},
      {"removed", kRemoved, 0, -1, false, 3, 1},
      {"the same values back", 1, 99, -1, false, 0, 1},
      {"recreated", 0, 100, -1, false, 1, 1},
      {"recreated and flushed", 5, 100, -1, false, 1, 1},
      {"lock taken", 1, 99, -1, true, 4, 1},
      {"flushed under the lock", 4, 99, -1, true, 4, 1},
      {"removed under the lock", kRemoved, 0, -1, true, 4, 1},
      {"lock released", 4, 99, -1, false, 2, 4},
      {"after the lock", 4, 99, -1, false, 0, 4},
  };
  std::vector<int> statuses;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.flushes == kRemoved)
      utl_RemoveFile(DbName());
    else
      WriteStatusHeader(DbName(), step.flushes, step.time);
    if (step.cutTo >= 0) qvt_test::TruncateTo(DbName(), step.cutTo);
    if (step.lock) utl_MakeDirectory(LockName());
    if (!step.lock) utl_RemoveDirectory(LockName());
    EXPECT_EQ(checker.CheckStatus(), step.status);
    EXPECT_EQ(checker.FlushCount(), step.flushCount);
    EXPECT_EQ(checker.CreationTime(), 99);
    statuses.push_back(step.status);
  }
  checker.throwOnNotify = true;
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::CheckFailed);
  statuses.insert(statuses.end(), {qvt_FileStatus::Unchanged, qvt_FileStatus::CheckFailed});
  EXPECT_EQ(checker.statuses, statuses);
  EXPECT_EQ(checker.flushChanges, 3);
  // A fresh checker on a re-created file starts from its values.
  WriteStatusHeader(DbName(), 0, 100);
  EXPECT_EQ(RecordingChecker(DbName()).CheckStatus(), qvt_FileStatus::Unchanged);
}

// Only a directory named as the lock counts, never for a URL; the lock's
// name replaces only an ending of exactly ".odb", the text from the last dot.
TEST_F(StatusCheckerTest, OnlyADirectoryNamedAsTheLockCounts) {
  WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  qvt_test::WriteAll(LockName(), {'x'});
  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists(DbName()));
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_RemoveFile(LockName()));
  ASSERT_TRUE(utl_MakeDirectory(LockName()));
  EXPECT_TRUE(qvt_DBStatusCheckerFile::TransactionLockExists(DbName()));
  const std::string name = m_Dir.File("data.bin");
  WriteStatusHeader(name, 1, 2);
  qvt_DBStatusCheckerFileLocal local(name);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("data.lsm")));
  EXPECT_EQ(local.CheckStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("data.bin.lsm")));
  EXPECT_EQ(local.CheckStatus(), qvt_FileStatus::InTransaction);
  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists("ftp://host/run.odb"));
  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists("http://user:pw@host:80/data"));
  const std::pair<const char*, const char*> names[] = {
      {"/data/x.y/run.odb", "/data/x.y/run.lsm"},
      {"run.ODB", "run.ODB.lsm"},
      {"data", "data.lsm"},
      {"run.odb.bak", "run.odb.bak.lsm"},
      {"run.odbx", "run.odbx.lsm"},
      {".odb", ".lsm"},
      {"", ".lsm"},
      {"dir.odb/run", "dir.odb/run.lsm"},
  };
  for (const auto& n : names) EXPECT_EQ(qvt_FileRepr::TransactionLockName(n.first), n.second) << n.first;
}

}  // namespace
