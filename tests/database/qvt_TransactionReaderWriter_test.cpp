// A writer process and this process as its reader: what FileStatus and
// Snap answer while the writer is inside a transaction, after its flushes,
// after the file is replaced by a new database and after it is deleted;
// an array's and a tagged stream's Snap; the transaction guard on its own.
#include "qvt_ReaderSemaphoreProxy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvt_Array.h"
#include "qvt_Database.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_File.h"
#include "qvt_Space.h"
#include "qvt_TaggedStream.h"
#include "qvt_StatusChild.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

using qvt_test::CommandedChild;

// The writer's side: creates the database, then obeys
//   lock / unlock   enter or leave a transaction guard
//   write           a new 16-byte space; answers its handle
//   flush           the database's Flush; answers the flush count
//   objects / grow  an int array (10, 20, 30) and a tagged stream (1:100),
//                   then more of each (40, 50; 2:200, 3:"three"); both
//                   flushed, the database not
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
    if (command == "objects") {
      m_Array = std::make_unique<qvt_Array<int, 1>>(m_Db->ArrayInt(1, 0, 0));
      m_Stream = std::make_unique<qvt_TaggedStream>(m_Db->TaggedStream(0));
      const int values[] = {10, 20, 30};
      m_Array->Write(values, 3);
      m_Stream->WriteInt(1, 100);
      return std::to_string(m_Array->Flush() + m_Stream->Flush());
    }
    if (command == "grow") {
      const int values[] = {40, 50};
      m_Array->Write(values, 2);
      m_Stream->WriteInt(2, 200);
      m_Stream->WriteString(3, "three");
      return std::to_string(m_Array->Flush() + m_Stream->Flush());
    }
    if (command == "close") {
      m_Array.reset();
      m_Stream.reset();
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
  std::unique_ptr<qvt_Array<int, 1>> m_Array;
  std::unique_ptr<qvt_TaggedStream> m_Stream;
};

// The records of stream from its current one on, as " id:int text".
std::string NewRecords(qvt_TaggedStream& stream) {
  std::string seen;
  while (stream.Next()) seen += " " + std::to_string(stream.GetID()) + ":" + std::to_string(stream.GetInt()) + stream.GetString();
  return seen;
}

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

// An object's Snap answers the writer's flush count of it once, after the
// reader's database was refreshed, and leaves the reader where it stood.
TEST_F(ReaderWriterTest, ObjectsSnapTheWritersFlushesOnceAfterTheDatabase) {
  CommandedChild writer = StartWriter(Name(), 1000);
  ASSERT_EQ(writer.Ask("create"), "created");
  ASSERT_EQ(writer.Ask("objects"), "2");
  ASSERT_EQ(writer.Ask("flush"), "2");
  qvt_Database reader = OpenReader(Name());
  qvt_Array<int, 1> array = reader.ArrayInt(qvt_Handle(4), 0, 0);
  qvt_TaggedStream stream = reader.TaggedStream(5, 0);
  int values[8] = {};
  EXPECT_EQ(array.Read(values, 1), 1);
  EXPECT_EQ(NewRecords(stream), " 1:100");
  EXPECT_EQ((std::vector<int>{array.Snap(), stream.Snap(), reader.Snap(), array.Snap()}),
            (std::vector<int>{0, 0, 0, 0}));

  ASSERT_EQ(writer.Ask("grow"), "4");
  EXPECT_EQ(array.Snap(), 0);  // the database has not flushed yet
  ASSERT_EQ(writer.Ask("flush"), "3");
  EXPECT_EQ((std::vector<int>{array.Snap(), reader.Snap(), array.Snap(), array.Snap(), stream.Snap()}),
            (std::vector<int>{0, 1, 2, 0, 2}));
  EXPECT_EQ((std::vector<int>{array.Location(), array.Length()}), (std::vector<int>{1, 5}));
  EXPECT_EQ(NewRecords(stream), " 2:200 3:0three");
  // A database flush that left the objects alone.
  ASSERT_EQ(writer.Ask("flush"), "4");
  EXPECT_EQ((std::vector<int>{reader.Snap(), array.Snap(), stream.Snap()}), (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(array.Read(values, 8), 4);
  EXPECT_EQ(std::vector<int>(values, values + 4), (std::vector<int>{20, 30, 40, 50}));
  ASSERT_EQ(writer.Ask("close"), "closed");
  EXPECT_TRUE(writer.Finish().Succeeded());
}

// ---- The guard in one process ----

class ReaderSemaphoreProxyTest : public ReaderWriterTest {};

// A writer's guard holds the lock for its lifetime, even when left by an
// exception; a reader's guard never locks, while another writer's lock
// still counts for it.
TEST_F(ReaderSemaphoreProxyTest, LockExistsForTheGuardsLifetimeOnWritersOnly) {
  {
    qvt_Database db = qvt_Database::Create(qvt_File::Open(Name(), utl_FileAccessCreate, false), "ODB", "guard", 7);
    try {
      qvt_ReaderSemaphoreProxy proxy(db);
      const utl_Stat lock(LockName());
      ASSERT_TRUE(lock.exists && lock.isDirectory);
      throw std::runtime_error("interrupted");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(utl_Stat(LockName()).exists);
  }
  qvt_Database reader = OpenReader(Name());
  {
    qvt_ReaderSemaphoreProxy proxy(reader);
    EXPECT_FALSE(utl_Stat(LockName()).exists);
    EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Unchanged);
  }
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

}  // namespace
