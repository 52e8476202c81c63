// Transactions across processes. A writer process and this process as its
// reader: what FileStatus and Snap answer while the writer is inside a
// transaction, after its flushes, after the file is replaced by a new
// database and after it is deleted; an array's and a tagged stream's Snap;
// the reader's own transaction guard. And the transaction lock as a local
// file takes and releases it: the directory beside the file, read-only files
// that never lock, the PAUSE_FOR_TRANSACTION prompts driven through a
// child's standard input, and what the file's own check answers meanwhile.
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "qvt_Array.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "qvt_Space.h"
#include "qvt_StatusChild.h"
#include "qvt_TaggedStream.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

// The writer's side: creates the database, then obeys
//   lock / unlock   enter or leave a transaction guard
//   write           a new 16-byte space; answers its handle
//   flush           the database's Flush; answers the flush count
//   objects / grow  an int array (10, 20, 30) and a tagged stream (1:100),
//                   then more of each (40, 50; 2:200, 3:"three"); both
//                   flushed, the database not
//   close           closes the database
CommandedChild StartWriter(const std::string& name, long creationTime) {
  struct Held {
    std::unique_ptr<qvt_Database> db;
    std::unique_ptr<qvt_ReaderSemaphoreProxy> proxy;
    std::unique_ptr<qvt_Array<int, 1>> array;
    std::unique_ptr<qvt_TaggedStream> stream;
  };
  auto held = std::make_shared<Held>();
  return CommandedChild([name, creationTime, held](const std::string& command) -> std::string {
    Held& w = *held;
    if (command == "create") {
      w.db = std::make_unique<qvt_Database>(qvt_Database::Create(
          qvt_File::Open(name, utl_FileAccessCreate, false), "ODB", "writer", creationTime));
      w.db->Flush();
      return "created";
    }
    if (command == "lock") {
      w.proxy = std::make_unique<qvt_ReaderSemaphoreProxy>(*w.db);
      return "locked";
    }
    if (command == "unlock") {
      w.proxy.reset();
      return "unlocked";
    }
    if (command == "write") {
      qvt_Space space = w.db->Space(16);
      space.Write("0123456789abcdef", 16);
      return std::to_string(space.Handle());
    }
    if (command == "flush") {
      w.db->Flush();
      return std::to_string(w.db->GetFlushCount());
    }
    if (command == "objects") {
      w.array = std::make_unique<qvt_Array<int, 1>>(w.db->ArrayInt(1, 0, 0));
      w.stream = std::make_unique<qvt_TaggedStream>(w.db->TaggedStream(0));
      const int values[] = {10, 20, 30};
      w.array->Write(values, 3);
      w.stream->WriteInt(1, 100);
      return std::to_string(w.array->Flush() + w.stream->Flush());
    }
    if (command == "grow") {
      const int values[] = {40, 50};
      w.array->Write(values, 2);
      w.stream->WriteInt(2, 200);
      w.stream->WriteString(3, "three");
      return std::to_string(w.array->Flush() + w.stream->Flush());
    }
    if (command == "close") {
      w.array.reset();
      w.stream.reset();
      w.proxy.reset();
      w.db.reset();
      return "closed";
    }
    return "unknown " + command;
  });
}

qvt_Database OpenReader(const std::string& name) {
  return qvt_Database::Open(qvt_File::Open(name, utl_FileAccessRead, true), "ODB");
}

// One step of a scenario: a command to the writer (none when empty) and
// its answer, then the reader's actions and their answers, space-separated.
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
      if (!step.command.empty()) {
        ASSERT_EQ(writer.Ask(step.command), step.reply);
      }
      std::istringstream actions(step.actions);
      std::string action, answers;
      while (actions >> action) answers += (answers.empty() ? "" : " ") + Do(action);
      EXPECT_EQ(answers, step.answers);
    }
    EXPECT_TRUE(writer.Finish().Succeeded());
  }
  // open: opens the reader; s: FileStatus; n: Snap; c: GetFlushCount; vH:
  // whether the 16-byte space H shows; rm: deletes the file; lock: whether
  // the lock exists; guard: FileStatus and Snap inside a transaction guard
  // of the reader's own, then whether the lock exists. On the writer's array (handle 4) and stream (5):
  // objects: opens them, reads one value and answers the records; a, t:
  // their Snap; at: the array's location and length; r: the new records;
  // rest: the array's values from where it stands.
  std::string Do(const std::string& action) {
    if (action == "open") m_Reader = std::make_unique<qvt_Database>(OpenReader(Name()));
    if (action == "s") return std::to_string(m_Reader->FileStatus());
    if (action == "n") return std::to_string(m_Reader->Snap());
    if (action == "c") return std::to_string(m_Reader->GetFlushCount());
    if (action[0] == 'v')
      return SpaceIsVisible(static_cast<qvt_Handle>(std::stoul(action.substr(1)))) ? "yes" : "no";
    if (action == "rm") return utl_RemoveFile(Name()) ? "removed" : "kept";
    if (action == "lock") return utl_Stat(LockName()).exists ? "locked" : "unlocked";
    if (action == "guard") {
      std::string inside;
      {
        qvt_ReaderSemaphoreProxy proxy(*m_Reader);
        inside = std::to_string(m_Reader->FileStatus()) + "," + std::to_string(m_Reader->Snap()) + ",";
      }
      return inside + Do("lock");
    }
    if (action == "objects") {
      m_Array = std::make_unique<qvt_Array<int, 1>>(m_Reader->ArrayInt(qvt_Handle(4), 0, 0));
      m_Stream = std::make_unique<qvt_TaggedStream>(m_Reader->TaggedStream(5, 0));
      int value = 0;
      m_Array->Read(&value, 1);
      return std::to_string(value) + NewRecords();
    }
    if (action == "a") return std::to_string(m_Array->Snap());
    if (action == "t") return std::to_string(m_Stream->Snap());
    if (action == "at") return std::to_string(m_Array->Location()) + "," + std::to_string(m_Array->Length());
    if (action == "r") return NewRecords();
    if (action == "rest") {
      int values[8] = {};
      const int got = m_Array->Read(values, 8);
      std::string text;
      for (int i = 0; i < got; ++i) text += (i ? "," : "") + std::to_string(values[i]);
      return text;
    }
    return action == "open" ? "opened" : "unknown " + action;
  }
  bool SpaceIsVisible(qvt_Handle handle) {
    try {
      return m_Reader->Space(handle, -1).Length() == 16;
    } catch (const nex_Exception&) {
      return false;
    }
  }
  // The stream's records from its current one on, as ",id:int text".
  std::string NewRecords() {
    std::string seen;
    while (m_Stream->Next()) {
      seen += "," + std::to_string(m_Stream->GetID()) + ":" + std::to_string(m_Stream->GetInt()) +
              m_Stream->GetString();
    }
    return seen;
  }
  ScratchDir m_Dir;
  std::unique_ptr<qvt_Database> m_Reader;
  std::unique_ptr<qvt_Array<int, 1>> m_Array;
  std::unique_ptr<qvt_TaggedStream> m_Stream;
};

// Inside the writer's transaction every check answers 4 and Snap does not
// refresh, even after the writer flushed meanwhile; out of it, the flush
// shows once (2, then 0). Snap's own check counts: a FileStatus right after
// it answers 0. A reader's own transaction guard never locks, while the
// writer's lock still counts for it. An object's Snap answers the writer's
// flush count of it once, after the reader's database was refreshed, and
// leaves the reader where it stood. The close flushes once more and removes
// the lock.
TEST_F(ReaderWriterTest, ReaderWaitsOutTheTransactionThenSeesEachFlushOnce) {
  CommandedChild writer = StartWriter(Name(), 1000);
  Run(writer, {{"create", "created", "", ""},
               {"objects", "2", "", ""},
               {"flush", "2", "open objects a t n a guard", "opened 10,1:100 0 0 0 0 0,0,unlocked"},
               {"grow", "4", "a", "0"},
               {"flush", "3", "a n a a t at r", "0 1 2 0 2 1,5 ,2:200,3:0three"},
               {"flush", "4", "n a t rest c s", "1 0 0 20,30,40,50 4 0"},
               {"lock", "locked", "s s n guard", "4 4 0 4,0,locked"},
               {"write", "9", "", ""},
               {"flush", "5", "s n c v9", "4 0 4 no"},
               {"unlock", "unlocked", "s s n c v9 n", "2 0 1 5 yes 0"},
               {"write", "10", "s", "0"},
               {"flush", "6", "s s v10 n v10", "2 0 no 1 yes"},
               {"flush", "7", "n s", "1 0"},
               {"close", "closed", "lock s", "unlocked 2"}});
}

// A database replaced under the same name answers Recreated on every call,
// but the new writer's lock answers first; a deleted one answers
// CheckFailed, while Snap still refreshes from the file the reader holds.
TEST_F(ReaderWriterTest, ReplacedOrDeletedDatabase) {
  CommandedChild first = StartWriter(Name(), 1000);
  Run(first, {{"create", "created", "", ""}, {"close", "closed", "open s", "opened 0"}});
  CommandedChild replacement = StartWriter(Name(), 2000);
  Run(replacement, {{"create", "created", "s s s", "1 1 1"},
                    {"flush", "2", "s", "1"},
                    {"lock", "locked", "s", "4"},
                    {"unlock", "unlocked", "s", "1"},
                    {"close", "closed", "s", "1"}});
  CommandedChild deleted = StartWriter(Name(), 3000);
  Run(deleted, {{"create", "created", "open", "opened"}, {"close", "closed", "rm s s n", "removed 3 3 1"}});
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
