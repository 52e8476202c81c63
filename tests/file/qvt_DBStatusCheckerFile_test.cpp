// The status check on raw files whose header bytes the tests write: the
// answers 0 to 4, what is kept between checks, and the notifications.
#include "qvt_DBStatusCheckerFile.h"

#include <functional>
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

// A short file keeps zeros even where one of the two values is whole.
TEST_F(StatusCheckerTest, ConstructorRefusesAMissingFileAndKeepsZerosOfAShortOne) {
  QVT_EXPECT_THROW_TEXT(RecordingChecker checker(DbName()), utl_FileExceptionNoFile,
                        "***ERROR: No such file: " + DbName() + ".");
  qvt_test::WriteAll(DbName(), std::vector<unsigned char>(519, 0xEE));
  RecordingChecker shortFile(DbName());
  EXPECT_EQ(shortFile.FlushCount(), 0);
  EXPECT_EQ(shortFile.CreationTime(), 0);
  EXPECT_TRUE(shortFile.statuses.empty());
}

// One checker through a sequence of changes of the file: each row the
// change, the answer, and the flush count and creation time kept after it.
// A new flush count answers Updated once and is kept; a new creation time
// answers Recreated on every call and keeps nothing; a missing or short
// file answers CheckFailed; the lock directory answers InTransaction before
// anything else.
TEST_F(StatusCheckerTest, AnswersAndKeptValuesThroughASequenceOfChanges) {
  WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  const auto header = [&](int flushes, int time) {
    return [=] { WriteStatusHeader(DbName(), flushes, time); };
  };
  const auto cut = [&](std::int64_t length) {
    return [=] {
      WriteStatusHeader(DbName(), 3, 99);
      qvt_test::TruncateTo(DbName(), length);
    };
  };
  const auto same = [] {};
  const struct {
    const char* what;
    std::function<void()> change;
    int status, flushCount, creationTime;
  } steps[] = {
      {"unchanged", same, 0, 3, 99},
      {"cut to 519", cut(519), 3, 3, 99},
      {"cut to 520", cut(520), 0, 3, 99},
      {"flushed", header(4, 99), 2, 4, 99},
      {"fewer flushes", header(1, 99), 2, 1, 99},
      {"removed", [&] { utl_RemoveFile(DbName()); }, 3, 1, 99},
      {"the same values back", header(1, 99), 0, 1, 99},
      {"recreated", header(0, 100), 1, 1, 99},
      {"recreated and flushed", header(5, 100), 1, 1, 99},
      {"lock taken",
       [&] {
         header(1, 99)();
         utl_MakeDirectory(LockName());
       },
       4, 1, 99},
      {"flushed under the lock", header(4, 99), 4, 1, 99},
      {"removed under the lock", [&] { utl_RemoveFile(DbName()); }, 4, 1, 99},
      {"lock released",
       [&] {
         utl_RemoveDirectory(LockName());
         header(4, 99)();
       },
       2, 4, 99},
      {"after the lock", same, 0, 4, 99},
  };
  std::vector<int> statuses;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(checker.CheckStatus(), step.status);
    EXPECT_EQ(checker.FlushCount(), step.flushCount);
    EXPECT_EQ(checker.CreationTime(), step.creationTime);
    statuses.push_back(step.status);
  }
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
      {"/data/x.y/run.odb", "/data/x.y/run.lsm"}, {"run.ODB", "run.ODB.lsm"}, {"data", "data.lsm"},
      {"run.odb.bak", "run.odb.bak.lsm"},         {"run.odbx", "run.odbx.lsm"}, {".odb", ".lsm"},
      {"", ".lsm"},                               {"dir.odb/run", "dir.odb/run.lsm"},
  };
  for (const auto& n : names) EXPECT_EQ(qvt_FileRepr::TransactionLockName(n.first), n.second) << n.first;
}

// The plain answer is notified first, then the failure, never an exception.
TEST_F(StatusCheckerTest, FailingNotificationBecomesCheckFailedNeverAnException) {
  WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  checker.throwOnNotify = true;
  qvt_FileStatus::QvtFileStatus status = qvt_FileStatus::Unchanged;
  EXPECT_NO_THROW(status = checker.CheckStatus());
  EXPECT_EQ(status, qvt_FileStatus::CheckFailed);
  EXPECT_EQ(checker.statuses, (std::vector<int>{0, 3}));
}

}  // namespace
