// A writer process and this process as its reader: what FileStatus and
// Snap answer while the writer is inside a transaction, after its flushes,
// after the file is replaced by a new database and after it is deleted.
// Also the transaction guard on its own.
#include "qvt_ReaderSemaphoreProxy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvt_Database.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_File.h"
#include "qvt_Space.h"
#include "qvt_StatusChild.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

using qvt_test::CommandedChild;

// The writer's side: creates the database, then obeys
//   lock / unlock   enter or leave a transaction guard
//   write           a new 16-byte space; answers its handle
//   flush           the database's Flush; answers the flush count
//   close           closes the database
class Writer {
 public:
  Writer(const std::string& name, long creationTime) : m_Name(name), m_CreationTime(creationTime) {}

  std::string Handle(const std::string& command) {
    if (command == "create") {
      m_Db = std::make_unique<qvt_Database>(qvt_Database::Create(
          qvt_File::Open(m_Name, utl_FileAccessCreate, false), "ODB", "writer", m_CreationTime));
      m_Db->Flush();
      return "created";
    }
    if (command == "lock") {
      m_Proxy = std::make_unique<qvt_ReaderSemaphoreProxy>(*m_Db);
      return "locked";
    }
    if (command == "unlock") {
      m_Proxy.reset();
      return "unlocked";
    }
    if (command == "write") {
      qvt_Space space = m_Db->Space(16);
      space.Write("0123456789abcdef", 16);
      return std::to_string(space.Handle());
    }
    if (command == "flush") {
      m_Db->Flush();
      return std::to_string(m_Db->GetFlushCount());
    }
    if (command == "close") {
      m_Proxy.reset();
      m_Db.reset();
      return "closed";
    }
    return "unknown " + command;
  }

 private:
  std::string m_Name;
  long m_CreationTime;
  std::unique_ptr<qvt_Database> m_Db;
  std::unique_ptr<qvt_ReaderSemaphoreProxy> m_Proxy;
};

CommandedChild StartWriter(const std::string& name, long creationTime) {
  auto writer = std::make_shared<Writer>(name, creationTime);
  return CommandedChild([writer](const std::string& command) { return writer->Handle(command); });
}

qvt_Database OpenReader(const std::string& name) {
  return qvt_Database::Open(qvt_File::Open(name, utl_FileAccessRead, true), "ODB");
}

bool SpaceIsVisible(qvt_Database& db, qvt_Handle handle) {
  try {
    qvt_Space space = db.Space(handle, -1);
    return space.Length() == 16;
  } catch (const nex_Exception&) {
    return false;
  }
}

class ReaderWriterTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("run.odb"); }
  std::string LockName() const { return m_Dir.File("run.lsm"); }
  qvt_test::ScratchDir m_Dir;
};

TEST_F(ReaderWriterTest, ReaderWaitsOutTheTransactionThenSeesEachFlushOnce) {
  CommandedChild writer = StartWriter(Name(), 1000);
  ASSERT_EQ(writer.Ask("create"), "created");
  qvt_Database reader = OpenReader(Name());
  EXPECT_EQ(reader.GetFlushCount(), 1);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);

  // Inside the writer's transaction every check answers 4 and Snap does
  // not refresh, even after the writer flushed meanwhile.
  ASSERT_EQ(writer.Ask("lock"), "locked");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_EQ(reader.Snap(), 0);
  const std::string first = writer.Ask("write");
  ASSERT_EQ(first, "4");
  ASSERT_EQ(writer.Ask("flush"), "2");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_EQ(reader.Snap(), 0);
  EXPECT_EQ(reader.GetFlushCount(), 1);
  EXPECT_FALSE(SpaceIsVisible(reader, 4));

  // Out of it, the flush made inside shows once.
  ASSERT_EQ(writer.Ask("unlock"), "unlocked");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Updated);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);
  EXPECT_EQ(reader.Snap(), 1);
  EXPECT_EQ(reader.GetFlushCount(), 2);
  EXPECT_TRUE(SpaceIsVisible(reader, 4));
  EXPECT_EQ(reader.Snap(), 0);

  // The writer's next Flush: 2, then 0.
  ASSERT_EQ(writer.Ask("write"), "5");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);
  ASSERT_EQ(writer.Ask("flush"), "3");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Updated);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);
  EXPECT_FALSE(SpaceIsVisible(reader, 5));
  EXPECT_EQ(reader.Snap(), 1);
  EXPECT_TRUE(SpaceIsVisible(reader, 5));

  // Snap's own check counts: a FileStatus right after it answers 0.
  ASSERT_EQ(writer.Ask("flush"), "4");
  EXPECT_EQ(reader.Snap(), 1);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);

  ASSERT_EQ(writer.Ask("close"), "closed");
  EXPECT_FALSE(utl_Stat(LockName()).exists);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Updated);  // the close flushed once more
  EXPECT_TRUE(writer.Finish().Succeeded());
}

TEST_F(ReaderWriterTest, DatabaseReplacedUnderTheSameNameAnswersRecreatedOnEveryCall) {
  {
    CommandedChild writer = StartWriter(Name(), 1000);
    ASSERT_EQ(writer.Ask("create"), "created");
    ASSERT_EQ(writer.Ask("close"), "closed");
    ASSERT_TRUE(writer.Finish().Succeeded());
  }
  qvt_Database reader = OpenReader(Name());
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);

  CommandedChild replacement = StartWriter(Name(), 2000);
  ASSERT_EQ(replacement.Ask("create"), "created");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Recreated) << i;
  ASSERT_EQ(replacement.Ask("flush"), "2");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Recreated);
  // While the new writer is in a transaction the lock answers first.
  ASSERT_EQ(replacement.Ask("lock"), "locked");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::InTransaction);
  ASSERT_EQ(replacement.Ask("unlock"), "unlocked");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Recreated);
  ASSERT_EQ(replacement.Ask("close"), "closed");
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Recreated);
  EXPECT_TRUE(replacement.Finish().Succeeded());
}

TEST_F(ReaderWriterTest, DeletedDatabaseAnswersCheckFailed) {
  CommandedChild writer = StartWriter(Name(), 1000);
  ASSERT_EQ(writer.Ask("create"), "created");
  qvt_Database reader = OpenReader(Name());
  ASSERT_EQ(writer.Ask("close"), "closed");
  EXPECT_TRUE(writer.Finish().Succeeded());
  ASSERT_TRUE(utl_RemoveFile(Name()));
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::CheckFailed);
  EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::CheckFailed);
  // The reader still holds the open file: Snap refreshes from it as usual.
  EXPECT_EQ(reader.Snap(), 1);
}

TEST_F(ReaderWriterTest, EveryReaderSeesTheLock) {
  CommandedChild writer = StartWriter(Name(), 1000);
  ASSERT_EQ(writer.Ask("create"), "created");
  qvt_Database first = OpenReader(Name());
  auto secondDb = std::make_shared<std::unique_ptr<qvt_Database>>();
  const std::string name = Name();
  CommandedChild second([secondDb, name](const std::string& command) -> std::string {
    if (command == "open") {
      *secondDb = std::make_unique<qvt_Database>(OpenReader(name));
      return "opened";
    }
    if (command == "status") return std::to_string((*secondDb)->FileStatus());
    if (command == "snap") return std::to_string((*secondDb)->Snap());
    return "unknown";
  });
  ASSERT_EQ(second.Ask("open"), "opened");
  ASSERT_EQ(writer.Ask("lock"), "locked");
  EXPECT_EQ(first.FileStatus(), qvt_FileStatus::InTransaction);
  EXPECT_EQ(second.Ask("status"), "4");
  ASSERT_EQ(writer.Ask("flush"), "2");
  EXPECT_EQ(second.Ask("snap"), "0");
  ASSERT_EQ(writer.Ask("unlock"), "unlocked");
  EXPECT_EQ(second.Ask("snap"), "1");
  EXPECT_EQ(second.Ask("status"), "0");
  EXPECT_EQ(first.FileStatus(), qvt_FileStatus::Updated);
  EXPECT_TRUE(second.Finish().Succeeded());
  ASSERT_EQ(writer.Ask("close"), "closed");
  EXPECT_TRUE(writer.Finish().Succeeded());
}

// ---- The guard in one process ----

class ReaderSemaphoreProxyTest : public ReaderWriterTest {};

TEST_F(ReaderSemaphoreProxyTest, LockExistsForTheGuardsLifetimeEvenWhenLeftByAnException) {
  qvt_Database db =
      qvt_Database::Create(qvt_File::Open(Name(), utl_FileAccessCreate, false), "ODB", "guard", 7);
  EXPECT_FALSE(utl_Stat(LockName()).exists);
  {
    qvt_ReaderSemaphoreProxy proxy(db);
    const utl_Stat lock(LockName());
    EXPECT_TRUE(lock.exists && lock.isDirectory);
  }
  EXPECT_FALSE(utl_Stat(LockName()).exists);
  try {
    qvt_ReaderSemaphoreProxy proxy(db);
    ASSERT_TRUE(utl_Stat(LockName()).exists);
    throw std::runtime_error("interrupted");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(utl_Stat(LockName()).exists);
}

TEST_F(ReaderSemaphoreProxyTest, ReadOnlyDatabaseIsNeverLocked) {
  {
    qvt_Database db =
        qvt_Database::Create(qvt_File::Open(Name(), utl_FileAccessCreate, false), "ODB", "guard", 7);
  }
  qvt_Database reader = OpenReader(Name());
  {
    qvt_ReaderSemaphoreProxy proxy(reader);
    EXPECT_FALSE(utl_Stat(LockName()).exists);
    EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);
  }
  // Another writer's lock still counts for this reader.
  ASSERT_TRUE(utl_MakeDirectory(LockName()));
  {
    qvt_ReaderSemaphoreProxy proxy(reader);
    EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::InTransaction);
    EXPECT_EQ(reader.Snap(), 0);
  }
  EXPECT_TRUE(utl_Stat(LockName()).exists);
}

TEST_F(ReaderSemaphoreProxyTest, GuardPromptsAroundTheTransactionWhenAskedTo) {
  const std::string name = Name();
  const std::string lock = LockName();
  const qvt_test::ChildResult result = qvt_test::RunChild(
      [name, lock] {
        qvt_Database db =
            qvt_Database::Create(qvt_File::Open(name, utl_FileAccessCreate, false), "ODB", "guard", 7);
        {
          qvt_ReaderSemaphoreProxy proxy(db);
          std::printf("%s\n", utl_Stat(lock).exists ? "locked" : "unlocked");
        }
        std::printf("%s\n", utl_Stat(lock).exists ? "locked" : "unlocked");
        return 0;
      },
      "first\nsecond\n", {{"PAUSE_FOR_TRANSACTION", "1"}});
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "locked\nunlocked\n");
  EXPECT_EQ(result.err, "Before transaction: After transaction: ");
}

TEST_F(ReaderSemaphoreProxyTest, StatisticsReachThePublicDatabase) {
  qvt_Database db =
      qvt_Database::Create(qvt_File::Open(Name(), utl_FileAccessCreate, false), "ODB", "stats", 7);
  const std::vector<cow_String> expected = {
      "Block 0 Size (bytes)=1024",
      "Total Linkage Usage (bytes)=               14336",
      "Metadata Pool Size (bytes)=                   4",
      "String Pool Size (bytes)=                   4",
      "String Pool Count (number of strings)=0",
      "String Pool Linkage_Count=1",
  };
  EXPECT_EQ(db.GetDBStatistics(), expected);
  EXPECT_EQ(db.GetObjStatistics(1), std::vector<cow_String>{"Linkage_Count=1"});
  EXPECT_TRUE(db.GetObjStatistics(0).empty());
  EXPECT_EQ(db.GetObjectLocationReport(0), "Object not found.");
  qvt_Space space = db.Space(64);
  space.Write("0123456789", 10);
  EXPECT_EQ(db.GetObjStatistics(space.Handle()), std::vector<cow_String>{"Linkage_Count=1"});
  // Its last byte, and the first of the reserved room behind it.
  auto* file = dynamic_cast<qvt_DatabaseReprFile*>(db.Repr());
  ASSERT_NE(file, nullptr);
  const utl_FileOffset at = file->LinkageEntry(space.Handle()).m_Location;
  EXPECT_EQ(db.GetObjectLocationReport(at + 9), "Object: 00000004 - Offset:                    9");
  EXPECT_EQ(db.GetObjectLocationReport(at + 10), "Object not found.");
}

}  // namespace
