// A transaction lock left by a writer that died: info and watch tell it
// from a live writer's, watch --until-idle ends while it stays, and unlock
// removes it only when no writer holds the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "qvt_BatchWorkload.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"

namespace qvt_test {
namespace {

class UnlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBatches(m_Path, false, true, 2);
    std::filesystem::create_directory(m_Lock);
  }
  ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("run.odb");
  const std::string m_Lock = m_Dir.File("run.lsm");
  const std::string m_Stale =
      "stale transaction lock " + m_Lock + ": no writer holds the file (qvtdb unlock removes it)";
};

TEST_F(UnlockTest, StaleLockIsToldByInfoAndRemovedByUnlock) {
  const ChildResult info = RunQvtdb({"info", m_Path});
  QVT_EXPECT_EXIT(info, 0);
  EXPECT_NE(info.out.find("\ntransaction   " + m_Stale + "\n"), std::string::npos) << info.out;

  const ChildResult unlock = RunQvtdb({"unlock", m_Path});
  QVT_EXPECT_EXIT(unlock, 0);
  EXPECT_EQ(unlock.out, m_Path + ": removed the stale transaction lock " + m_Lock + "\n");
  EXPECT_FALSE(std::filesystem::exists(m_Lock));
  const ChildResult again = RunQvtdb({"unlock", m_Path});
  QVT_EXPECT_EXIT(again, 0);
  EXPECT_EQ(again.out, m_Path + ": no transaction lock\n");
}

TEST_F(UnlockTest, LockOfALiveWriterStays) {
  qvt_Database writer = qvt_Database::Open(qvt_File::Open(m_Path, 1, true), "BTCH");
  const ChildResult info = RunQvtdb({"info", m_Path});
  QVT_EXPECT_EXIT(info, 0);
  EXPECT_NE(info.out.find("\ntransaction   in progress\n"), std::string::npos) << info.out;

  const ChildResult unlock = RunQvtdb({"unlock", m_Path});
  QVT_EXPECT_EXIT(unlock, 1);
  EXPECT_EQ(unlock.err, "qvtdb: a writer holds " + m_Path + "; its transaction lock " + m_Lock + " stays\n");
  EXPECT_TRUE(std::filesystem::exists(m_Lock));
}

TEST_F(UnlockTest, WatchUntilIdleEndsWhileAStaleLockStays) {
  const ChildResult watch = RunQvtdb({"watch", m_Path, "--until-idle", "0.3", "--interval", "20"}, 20000);
  QVT_EXPECT_EXIT(watch, 0);
  EXPECT_NE(watch.out.find("status: in transaction (" + m_Stale + ")\n"), std::string::npos) << watch.out;
  EXPECT_NE(watch.out.find("idle for 0.3 s; stopping"), std::string::npos) << watch.out;
  EXPECT_TRUE(std::filesystem::exists(m_Lock));
}

}  // namespace
}  // namespace qvt_test
