// The status check on raw files whose header bytes the tests write: the
// answers 0 to 4, what is kept between checks, and the notifications.
#include "qvt_DBStatusCheckerFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qvt_DBStatusCheckerFileLocal.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

using qvt_FileStatus::QvtFileStatus;
using qvt_test::ScratchDir;

// Records every notification, in order.
class RecordingChecker : public qvt_DBStatusCheckerFile {
 public:
  explicit RecordingChecker(const cow_String& name) : qvt_DBStatusCheckerFile(name) {}
  std::vector<int> statuses;
  int flushChanges = 0;
  bool throwOnNotify = false;

 protected:
  void StatusChecked(QvtFileStatus status) override {
    statuses.push_back(status);
    if (throwOnNotify) NEX_THROW_TEXT("notification refused");
  }
  void FlushCountChanged() override { ++flushChanges; }
};

class StatusCheckerTest : public ::testing::Test {
 protected:
  std::string DbName() const { return m_Dir.File("run.odb"); }
  std::string LockName() const { return m_Dir.File("run.lsm"); }
  ScratchDir m_Dir;
};

TEST_F(StatusCheckerTest, ConstructorKeepsTheHeaderValuesOrZerosOfAShortFile) {
  QVT_EXPECT_THROW_TEXT(RecordingChecker checker(DbName()), utl_FileExceptionNoFile,
                        "***ERROR: No such file: " + DbName() + ".");
  for (std::size_t size : {0, 515}) {
    qvt_test::WriteAll(DbName(), std::vector<unsigned char>(size, 0xEE));
    RecordingChecker shortFile(DbName());
    EXPECT_EQ(shortFile.FlushCount(), 0);
    EXPECT_EQ(shortFile.CreationTime(), 0);
  }
  qvt_test::WriteStatusHeader(DbName(), 7, 123456);
  RecordingChecker checker(DbName());
  EXPECT_EQ(checker.FileName(), DbName());
  EXPECT_EQ(checker.FlushCount(), 7);
  EXPECT_EQ(checker.CreationTime(), 123456);
  EXPECT_TRUE(checker.statuses.empty());
}

// Unchanged answers 0 every time; a new flush count, larger or smaller,
// answers Updated once and is kept.
TEST_F(StatusCheckerTest, NewFlushCountAnswersUpdatedOnceThenUnchanged) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  for (const int flushes : {3, 3, 4, 4, 1, 1}) {
    qvt_test::WriteStatusHeader(DbName(), flushes, 99);
    checker.CheckStatus();
    EXPECT_EQ(checker.FlushCount(), flushes);
  }
  EXPECT_EQ(checker.statuses, (std::vector<int>{0, 0, 2, 0, 2, 0}));
  EXPECT_EQ(checker.flushChanges, 2);
}

TEST_F(StatusCheckerTest, NewCreationTimeAnswersRecreatedOnEveryCall) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  qvt_test::WriteStatusHeader(DbName(), 0, 100);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Recreated);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Recreated);
  // The new file flushes: still Recreated, and nothing is kept meanwhile.
  qvt_test::WriteStatusHeader(DbName(), 5, 100);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Recreated);
  EXPECT_EQ(checker.FlushCount(), 3);
  EXPECT_EQ(checker.CreationTime(), 99);
  EXPECT_EQ(checker.flushChanges, 0);
  // A fresh checker on the new file starts from its values.
  RecordingChecker rebuilt(DbName());
  EXPECT_EQ(rebuilt.CheckStatus(), qvt_FileStatus::Unchanged);
  EXPECT_EQ(checker.statuses, (std::vector<int>{1, 1, 1}));
}

TEST_F(StatusCheckerTest, DeletedFileAnswersCheckFailedAndKeepsTheOldValues) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  ASSERT_TRUE(utl_RemoveFile(DbName()));
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::CheckFailed);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::CheckFailed);
  EXPECT_EQ(checker.statuses, (std::vector<int>{3, 3}));
  // The same values back under the name: nothing changed since the last
  // successful check.
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Unchanged);
}

TEST_F(StatusCheckerTest, FileCutShortOfTheHeaderValuesAnswersCheckFailed) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  for (std::int64_t length : {0, 4, 512, 516, 519}) {
    qvt_test::WriteStatusHeader(DbName(), 3, 99);
    qvt_test::TruncateTo(DbName(), length);
    EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::CheckFailed) << "length " << length;
  }
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  qvt_test::TruncateTo(DbName(), 520);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Unchanged);
  EXPECT_EQ(checker.flushChanges, 0);
}

TEST_F(StatusCheckerTest, LockDirectoryAnswersInTransactionBeforeAnythingElse) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  ASSERT_TRUE(utl_MakeDirectory(LockName()));
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::InTransaction);
  // Flushed and even re-created under the lock: the lock still answers, and
  // nothing of the header is taken in meanwhile.
  qvt_test::WriteStatusHeader(DbName(), 4, 99);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::InTransaction);
  qvt_test::WriteStatusHeader(DbName(), 4, 100);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::InTransaction);
  ASSERT_TRUE(utl_RemoveFile(DbName()));
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::InTransaction);
  EXPECT_EQ(checker.FlushCount(), 3);
  ASSERT_TRUE(utl_RemoveDirectory(LockName()));
  qvt_test::WriteStatusHeader(DbName(), 4, 99);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Updated);
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Unchanged);
  EXPECT_EQ(checker.statuses, (std::vector<int>{4, 4, 4, 4, 2, 0}));
}

// Only a directory named as the lock counts, never for a URL.
TEST_F(StatusCheckerTest, OnlyADirectoryNamedAsTheLockCounts) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  qvt_test::WriteAll(LockName(), {'x'});
  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists(DbName()));
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_RemoveFile(LockName()));
  ASSERT_TRUE(utl_MakeDirectory(LockName()));
  EXPECT_TRUE(qvt_DBStatusCheckerFile::TransactionLockExists(DbName()));

  const std::string name = m_Dir.File("data.bin");
  qvt_test::WriteStatusHeader(name, 1, 2);
  qvt_DBStatusCheckerFileLocal local(name);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("data.lsm")));
  EXPECT_EQ(local.CheckStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("data.bin.lsm")));
  EXPECT_EQ(local.CheckStatus(), qvt_FileStatus::InTransaction);

  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists("ftp://host/run.odb"));
  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists("http://user:pw@host:80/data"));
}

TEST_F(StatusCheckerTest, FailingNotificationBecomesCheckFailedNeverAnException) {
  qvt_test::WriteStatusHeader(DbName(), 3, 99);
  RecordingChecker checker(DbName());
  checker.throwOnNotify = true;
  QvtFileStatus status = qvt_FileStatus::Unchanged;
  EXPECT_NO_THROW(status = checker.CheckStatus());
  EXPECT_EQ(status, qvt_FileStatus::CheckFailed);
  // The plain answer was notified first, then the failure.
  EXPECT_EQ(checker.statuses, (std::vector<int>{0, 3}));
}

}  // namespace
