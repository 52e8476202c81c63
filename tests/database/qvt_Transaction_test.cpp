// A writer child and this process as its reader; the transaction lock and its prompts.
#include <cstdio>
#include <sstream>

#include "qvt_Database.h"
#include "qvt_FileRepr.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "qvt_StatusChild.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

using namespace qvt_test;

// The writer: create, lock/unlock (a transaction guard), write (a new 16-byte space: its handle), flush
// (the flush count), objects (an int array 10,20,30 and a tagged stream 1:100) and grow (40,50; 2:200,
// 3:"three"), both objects flushed but not the database, close.
CommandedChild StartWriter(const std::string& name, long creationTime) {
  struct Held {  // released in this order
    std::unique_ptr<qvt_Array<int, 1>> array;
    std::unique_ptr<qvt_TaggedStream> stream;
    std::unique_ptr<qvt_ReaderSemaphoreProxy> proxy;
    std::unique_ptr<qvt_Database> db;
  };
  auto held = std::make_shared<Held>();
  return CommandedChild([name, creationTime, held](const std::string& command) -> std::string {
    Held& w = *held;
    if (command == "create")
      w.db = std::make_unique<qvt_Database>(qvt_Database::Create(
          qvt_File::Open(name, utl_FileAccessCreate, false), "ODB", "writer", creationTime));
    if (command == "create" || command == "flush") w.db->Flush();
    if (command == "flush") return std::to_string(w.db->GetFlushCount());
    if (command == "lock") w.proxy = std::make_unique<qvt_ReaderSemaphoreProxy>(*w.db);
    if (command == "unlock") w.proxy.reset();
    if (command == "close") w = Held();
    if (command == "write") {
      qvt_Space space = w.db->Space(16);
      space.Write("0123456789abcdef", 16);
      return std::to_string(space.Handle());
    }
    if (command == "objects") {
      w.array = std::make_unique<qvt_Array<int, 1>>(w.db->ArrayInt(1, 0, 0));
      w.stream = std::make_unique<qvt_TaggedStream>(w.db->TaggedStream(0));
      w.array->Write(std::vector<int>{10, 20, 30}.data(), 3);
      w.stream->WriteInt(1, 100);
    }
    if (command == "grow") {
      w.array->Write(std::vector<int>{40, 50}.data(), 2);
      w.stream->WriteInt(2, 200);
      w.stream->WriteString(3, "three");
    }
    if (command == "objects" || command == "grow")
      return std::to_string(w.array->Flush() + w.stream->Flush());
    return command;
  });
}

// A command to the writer and its reply, then the reader's actions and answers.
struct Step {
  std::string command, reply, actions, answers;
};

class ReaderWriterTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("run.odb"); }
  std::string LockName() const { return m_Dir.File("run.lsm"); }
  void Run(CommandedChild& writer, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      SCOPED_TRACE(step.command + ": " + step.actions);
      ASSERT_EQ(writer.Ask(step.command), step.reply);
      std::istringstream actions(step.actions);
      std::string action, answers;
      while (actions >> action) answers += (answers.empty() ? "" : " ") + Do(action);
      EXPECT_EQ(answers, step.answers);
    }
    EXPECT_TRUE(writer.Finish().Succeeded());
  }
  // s FileStatus, n Snap, c flush count, vH space H shows, rm delete, lock lock exists, guard s,n inside
  // the reader's own guard then lock; on the writer's array (4) and stream (5): objects open both, a/t
  // Snap, at the array's location,length, r new records, rest the array's values onward.
  std::string Do(const std::string& action) {
    if (action == "open")
      m_Reader = std::make_unique<qvt_Database>(
          qvt_Database::Open(qvt_File::Open(Name(), utl_FileAccessRead, true), "ODB"));
    if (action == "s") return std::to_string(m_Reader->FileStatus());
    if (action == "n") return std::to_string(m_Reader->Snap());
    if (action == "c") return std::to_string(m_Reader->GetFlushCount());
    if (action[0] == 'v') return SpaceIsVisible(action.substr(1)) ? "yes" : "no";
    if (action == "rm") return utl_RemoveFile(Name()) ? "removed" : "kept";
    if (action == "lock") return utl_Stat(LockName()).exists ? "locked" : "unlocked";
    if (action == "guard") {
      auto proxy = std::make_unique<qvt_ReaderSemaphoreProxy>(*m_Reader);
      std::string inside = Do("s") + ",";  // in this order: Snap's check counts
      inside += Do("n") + ",";
      proxy.reset();
      return inside + Do("lock");
    }
    if (action == "objects") {
      m_Array = std::make_unique<qvt_Array<int, 1>>(m_Reader->ArrayInt(qvt_Handle(4), 0, 0));
      m_Stream = std::make_unique<qvt_TaggedStream>(m_Reader->TaggedStream(5, 0));
      return Read(1) + NewRecords();
    }
    if (action == "a") return std::to_string(m_Array->Snap());
    if (action == "t") return std::to_string(m_Stream->Snap());
    if (action == "at") return std::to_string(m_Array->Location()) + "," + std::to_string(m_Array->Length());
    if (action == "r") return NewRecords();
    if (action == "rest") return Read(8);
    return action == "open" ? "opened" : "unknown " + action;
  }
  // Up to count values of the array from where it stands, comma-separated.
  std::string Read(int count) {
    int values[8] = {};
    const int got = m_Array->Read(values, count);
    std::string text;
    for (int i = 0; i < got; ++i) text += (i ? "," : "") + std::to_string(values[i]);
    return text;
  }
  bool SpaceIsVisible(const std::string& handle) {
    try {
      return m_Reader->Space(static_cast<qvt_Handle>(std::stoul(handle)), -1).Length() == 16;
    } catch (const nex_Exception&) {
      return false;
    }
  }
  // The stream's records from its current one on, as ",id:int text".
  std::string NewRecords() {
    std::string seen;
    while (m_Stream->Next())
      seen += "," + std::to_string(m_Stream->GetID()) + ":" + std::to_string(m_Stream->GetInt()) +
              m_Stream->GetString();
    return seen;
  }
  ScratchDir m_Dir;
  std::unique_ptr<qvt_Database> m_Reader;
  std::unique_ptr<qvt_Array<int, 1>> m_Array;
  std::unique_ptr<qvt_TaggedStream> m_Stream;
};

// In the writer's transaction checks answer 4 and Snap waits; after it each flush shows once.
TEST_F(ReaderWriterTest, ReaderWaitsOutTheTransactionThenSeesEachFlushOnce) {
  CommandedChild writer = StartWriter(Name(), 1000);
  Run(writer, {{"create", "create", "", ""},
               {"objects", "2", "", ""},
               {"flush", "2", "open objects a t n a guard", "opened 10,1:100 0 0 0 0 0,0,unlocked"},
               {"grow", "4", "a", "0"},
               {"flush", "3", "a n a a t at r", "0 1 2 0 2 1,5 ,2:200,3:0three"},
               {"flush", "4", "n a t rest c s", "1 0 0 20,30,40,50 4 0"},
               {"lock", "lock", "s s n guard", "4 4 0 4,0,locked"},
               {"write", "9", "", ""},
               {"flush", "5", "s n c v9", "4 0 4 no"},
               {"unlock", "unlock", "s s n c v9 n", "2 0 1 5 yes 0"},
               {"write", "10", "s", "0"},
               {"flush", "6", "s s v10 n v10", "2 0 no 1 yes"},
               {"flush", "7", "n s", "1 0"},
               {"close", "close", "lock s", "unlocked 2"}});
}

// Replaced: Recreated, but the writer's lock first; deleted: CheckFailed, yet Snap still refreshes.
TEST_F(ReaderWriterTest, ReplacedOrDeletedDatabase) {
  CommandedChild first = StartWriter(Name(), 1000);
  Run(first, {{"create", "create", "", ""}, {"close", "close", "open s", "opened 0"}});
  CommandedChild replacement = StartWriter(Name(), 2000);
  Run(replacement, {{"create", "create", "s s s", "1 1 1"},
                    {"flush", "2", "s", "1"},
                    {"lock", "lock", "s", "4"},
                    {"unlock", "unlock", "s", "1"},
                    {"close", "close", "s", "1"}});
  CommandedChild deleted = StartWriter(Name(), 3000);
  Run(deleted, {{"create", "create", "open", "opened"}, {"close", "close", "rm s s n", "removed 3 3 1"}});
}

class TransactionLockTest : public ::testing::Test {
 protected:
  TransactionLockTest() { WriteStatusHeader(m_Name, 0, 1); }
  // Prints whether the lock took and the file's check, then whether clearing left anything.
  int LockAndSay(int access) const {
    qvt_File file = qvt_File::Open(m_Name, access, access == utl_FileAccessRead);
    qvt_FileRepr& repr = *file.Repr();
    repr.ReaderSemaphoreSet();
    std::printf("set %s, status %d%s\n",
                utl_FilePath(m_Lock).IsDirectory() && repr.InTransaction() ? "locked" : "unlocked",
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

// Read-only files never lock; a stale lock stops no writer; ended or overlong input ends both pauses.
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
    ASSERT_TRUE(!c.leftBehind || utl_MakeDirectory(m_Lock));
    const ChildResult result =
        RunChild([&] { return LockAndSay(c.access); }, c.input, {{"PAUSE_FOR_TRANSACTION", "1"}});
    EXPECT_TRUE(result.Succeeded()) << result.err;
    EXPECT_EQ((std::vector<std::string>{result.out, result.err}), (std::vector<std::string>{c.out, c.err}));
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
