// The public database handle, spaces, library start and end, statistics and location reports; a writer child
// and this process as its reader; the transaction lock and its prompts.
#include "qvt_Database.h"

#include <cstdio>
#include <sstream>
#include <tuple>

#include "qvt_BufferedSpace.h"
#include "qvt_FileRepr.h"
#include "qvt_ObjectShapes.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "qvt_SpaceRepr.h"
#include "qvt_ChildProcess.h"
#include "qvt_StringManagerFile.h"
#include "qvt_TablesFixture.h"
#include "utl_File.h"

namespace {

using namespace qvt_test;

class DatabaseTest : public DatabaseKindTest {};

TEST_P(DatabaseTest, CreateThenOpenThroughThePublicHandle) {
  {
    qvt_Database db =
        qvt_Database::Create(OpenFileOfKind(GetParam(), Path(), 2), "ABCDEF", "results of run 7", 1234);
    EXPECT_EQ((std::vector<std::string>{db.FileName(), db.Description().c_str()}),
              (std::vector<std::string>{Path(), "results of run 7"}));
    EXPECT_EQ((std::vector<int>{db.ReadOnly(), db.GetFlushCount()}), (std::vector<int>{0, 0}));
    db.Bind(Shape("Root", {{"n", qvt_TypeInt}}));
    qvt_Table first = db.Table("Root", 0, -1);
    qvt_Table second = db.Table(Shape("Other", {{"n", qvt_TypeInt}}), 0, -1);
    EXPECT_EQ((std::vector<qvt_Handle>{first.Handle(), second.Handle(), db.RootTableHandle(),
                                       db.RootTableHandle2()}),
              (std::vector<qvt_Handle>{4, 5, 4, 5}));
    // An object's kind is read from its first ints.
    const std::pair<std::vector<int>, qvt_Type> cases[] = {
        {{kStreamMagic}, qvt_TypeTaggedStream},
        {{kArrayMagic, 0, 4, 1}, qvt_TypeDouble},
        {{kArrayMagic, 0, 6, 1}, qvt_TypeString},
        {{kArrayMagic, 0, 99, 1}, qvt_TypeOther},  // a damaged array
        {{1, 2, 3}, qvt_TypeOther},
        {{}, qvt_TypeOther}};
    for (const auto& c : cases)
      EXPECT_EQ(db.HandleType(SpaceOfWords(db, c.first)), c.second) << ::testing::PrintToString(c.first);
    EXPECT_EQ((std::vector<int>{db.HandleType(second.Handle()), db.HandleType(1), db.HandleType(3)}),
              (std::vector<int>{qvt_TypeTable, qvt_TypeOther, qvt_TypeOther}));
    QVT_EXPECT_THROW_TEXT(db.HandleType(0), nex_TextException, kInvalidDatabase);
  }
  qvt_File file = qvt_File::Open(Path(), 0, true);
  EXPECT_EQ((std::vector<bool>{qvt_Database::IsMagic(file, "ABCD"), qvt_Database::IsMagic(file, ""),
                               qvt_Database::IsMagic(file, "ABCE")}),
            (std::vector<bool>{true, true, false}));
  EXPECT_EQ(qvt_Database::GetCreationTime(file), 1234);
  qvt_Database db = qvt_Database::Open(file, "ABCDEF");
  EXPECT_EQ((std::vector<int>{db.ReadOnly(), db.GetFlushCount()}), (std::vector<int>{1, 1}));
  db.Bind();
  ExpectEachThrows<nex_TextException>(kReadOnly, {[&] { db.Space(-1); }, [&] { db.Table("Root", 0, -1); }});
  db.Flush();
  EXPECT_EQ(db.GetFlushCount(), 1);
}

TEST_P(DatabaseTest, LastCopyClosesTheDatabase) {
  if (GetParam() != FileKind::Local) GTEST_SKIP() << "reads the header from the file itself";
  qvt_Database* first = new qvt_Database(CreateDb());
  qvt_Database copy(*first);
  first->Flush();
  delete first;
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 1u);
  copy.Flush();
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 2u);
  {
    qvt_Database assigned = CreateDb("other.odb");
    assigned = copy;  // closes other.odb, shares test.odb
    EXPECT_EQ(BE32(ReadAll(Path("other.odb")), 512), 1u);
  }
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 2u);
  copy = qvt_Database(copy);  // still open
  EXPECT_EQ(copy.GetFlushCount(), 2);
}

// A buffered space starts where its space stands and holds writes until a flush, copy end or assignment.
TEST_P(DatabaseTest, SpacesAndBufferedSpacesReadAndWriteThroughTheHandle) {
  qvt_Database db = CreateDb();
  qvt_Space space = db.Space(16);
  EXPECT_FALSE(space.ReadOnly());
  space.WriteInt(0x01020304);
  space.Write("abcdef", 6);
  EXPECT_EQ((std::vector<utl_FileOffset>{space.Length(), space.Location(), space.Allocation()}),
            (std::vector<utl_FileOffset>{10, 10, 16}));
  space.Extend(20);
  EXPECT_GE(space.Allocation(), 30);
  space.Seek(0);
  char text[8] = {};
  EXPECT_EQ((std::vector<int>{space.ReadInt(), space.Read(text, 8)}), (std::vector<int>{0x01020304, 6}));
  EXPECT_EQ(std::string(text), "abcdef");
  QVT_EXPECT_THROW_TEXT(space.ReadInt(), nex_TextException, kEof);
  space.Truncate(4);
  EXPECT_EQ((std::vector<utl_FileOffset>{space.Length(), space.Location()}),
            (std::vector<utl_FileOffset>{4, 0}));
  space.Flush();
  EXPECT_EQ(db.Space(space.Handle(), 0).ReadInt(), 0x01020304);
  space.Seek(4);
  space.Write(std::vector<char>(96).data(), 96);
  {
    qvt_BufferedSpace buffered(space);
    EXPECT_EQ((std::vector<utl_FileOffset>{buffered.Location(), buffered.Handle()}),
              (std::vector<utl_FileOffset>{100, space.Handle()}));
    buffered.WriteIntArray(std::vector<int>{7, 8}.data(), 2);
    buffered.WriteDoubleArray(std::vector<double>{2.5}.data(), 1);
    buffered.WriteFloatArray(std::vector<float>{1.25f}.data(), 1);
    EXPECT_EQ((std::vector<utl_FileOffset>{buffered.Length(), space.Length()}),
              (std::vector<utl_FileOffset>{120, 100}));  // still in the block
    qvt_BufferedSpace shared = buffered;
    buffered.Flush();
    EXPECT_EQ(space.Length(), 120);
    shared.Write("tail", 4);
  }
  EXPECT_EQ(space.Length(), 124);
  qvt_BufferedSpace reader(space);
  reader.Seek(100);
  int ints[2] = {};
  double d = 0;
  float f = 0;
  char tail[4];
  EXPECT_EQ(
      (std::vector<int>{reader.ReadIntArray(ints, 2), reader.ReadDoubleArray(&d, 1),
                        reader.ReadFloatArray(&f, 1), reader.Read(tail, 4), reader.ReadIntArray(ints, 1)}),
      (std::vector<int>{2, 1, 1, 4, 0}));
  EXPECT_EQ((std::vector<double>{static_cast<double>(ints[1]), d, f}), (std::vector<double>{8, 2.5, 1.25}));
  EXPECT_EQ(std::string(tail, 4), "tail");
  EXPECT_FALSE(reader.ReadOnly());
  EXPECT_GE(reader.Allocation(), 124);
  qvt_Space second = db.Space(-1);
  space = second;  // the buffered space now holds the only share of the first space
  reader.Write("pending", 7);
  reader = qvt_BufferedSpace(second);
  EXPECT_EQ(db.Space(4, -1).Length(), 131);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DatabaseTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

// Each finalizer call undoes one initializer call; one too many changes nothing.
TEST(LibraryStartTest, CountsItsCallsAndRestoresTheCaller) {
  using Call = void (*)(int&);
  const std::tuple<Call, Call, int, std::vector<int>> pairs[] = {
      {UTI_QvtInterface_initialize, UTI_QvtInterface_finalize, 10, {12, 12, 12, 10, 10}},
      {qvt_initialize, qvt_finalize, 0, {1, 1, 1, 0, 0}}};
  for (const auto& [up, down, start, expected] : pairs) {
    for (int round = 0; round < 2; ++round) {  // the extra finalize left nothing behind
      int counter = start;
      std::vector<int> seen;
      for (const Call call : {up, up, down, down, down}) call(counter), seen.push_back(counter);
      EXPECT_EQ(seen, expected) << round;
    }
  }
}

using Lines = std::vector<std::string>;

class DatabaseStatisticsTest : public DatabaseFixture {
 protected:
  // The database open on the file is closed first.
  void CreateDatabase() { m_Db.reset(), m_Db = Create("stats.odb", "ODB", "statistics", 42); }
  void Reopen() { m_Db.reset(), m_Db = Open("stats.odb", true, "ODB"); }
  // A new space holding bytes bytes; answers its handle.
  qvt_Handle WriteSpace(int bytes, int increment) {
    std::unique_ptr<qvt_SpaceRepr> space(m_Db->Space(increment));
    EXPECT_EQ(space->Write(std::string(static_cast<std::size_t>(bytes), 'x').data(), bytes), bytes);
    return space->Handle();
  }
  // The location report naming offset of handle.
  static std::string Located(qvt_Handle handle, long long offset) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "Object: %08x - Offset: %20lld", handle, offset);
    return buf;
  }
  std::unique_ptr<qvt_DatabaseReprFile> m_Db;
};

const Lines kNewDatabaseLines = {"Block 0 Size (bytes)=1024",
                                 "Total Linkage Usage (bytes)=               14336",
                                 "Metadata Pool Size (bytes)=                   4",
                                 "String Pool Size (bytes)=                   4",
                                 "String Pool Count (number of strings)=0",
                                 "String Pool Linkage_Count=1"};

// Six lines for a new database; the string pool's lines count unflushed records.
TEST_F(DatabaseStatisticsTest, NewDatabaseAnswersTheSixLinesAndStringPoolLinesFollowThePool) {
  CreateDatabase();
  m_Db->Flush();
  EXPECT_EQ(m_Db->GetDBStatistics(), kNewDatabaseLines);
  Reopen();
  EXPECT_EQ(m_Db->GetDBStatistics(), kNewDatabaseLines);
  CreateDatabase();
  // Records of 4 + 4 and 4 + 8 bytes behind the marker; abc is known the second time.
  for (const char* text : {"abc", "hello", "abc"}) m_Db->StringPool().StringOffset(text);
  for (const std::string linkages : {"1", "2"}) {  // flushed, the records take a second extent
    const Lines lines = m_Db->GetDBStatistics();
    EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
              (Lines{"String Pool Size (bytes)=                  24",
                     "String Pool Count (number of strings)=2", "String Pool Linkage_Count=" + linkages}));
    m_Db->Flush();
  }
  Reopen();
  EXPECT_EQ(m_Db->GetDBStatistics()[4], "String Pool Count (number of strings)=2");
  // Handles 1 to 3 are taken; 508 more fill block 0, the next opens block 1.
  CreateDatabase();
  for (int i = 0; i < 508; ++i) delete m_Db->Space(-1);
  EXPECT_EQ(m_Db->GetDBStatistics()[1], "Total Linkage Usage (bytes)=               14336");
  std::unique_ptr<qvt_SpaceRepr> space(m_Db->Space(-1));
  EXPECT_EQ(space->Handle(), 513u);
  EXPECT_EQ(m_Db->GetDBStatistics()[1], "Total Linkage Usage (bytes)=               28672");
}

// Extent counts, the handle list (heads only), and the object an offset names across extents.
TEST_F(DatabaseStatisticsTest, ExtentCountsAndLocationReportsFollowTheChains) {
  CreateDatabase();
  m_Db->StringPool().StringOffset("abc");
  const qvt_Handle h = WriteSpace(10, 100);
  const qvt_Handle full = WriteSpace(8, 4);
  const qvt_Handle next = WriteSpace(4, 4);
  {
    // Grown alone at the end of the file: in place, one extent.
    std::unique_ptr<qvt_SpaceRepr> space(m_Db->Space(next, 4));
    space->Seek(space->Length());
    ASSERT_EQ(space->Write("0123", 4), 4);
  }
  std::unique_ptr<qvt_SpaceRepr> a(m_Db->Space(4));
  std::unique_ptr<qvt_SpaceRepr> b(m_Db->Space(4));
  ASSERT_EQ(a->Write("a0a0", 4), 4);
  ASSERT_EQ(b->Write("b0b0", 4), 4);
  ASSERT_EQ(a->Write("a1a1a1", 6), 6);  // a second extent of 8 bytes, 6 used
  std::unique_ptr<qvt_SpaceRepr> empty(m_Db->Space(4));
  // No space: slot 0, slot 0 of block 1, a free slot, far outside.
  for (const qvt_Handle none : {0u, 512u, 100u, 0xFFFFFFFFu})
    EXPECT_TRUE(m_Db->GetObjStatistics(none).empty());
  for (const auto& e : std::vector<std::pair<qvt_Handle, int>>{{2, 1}, {h, 1}, {next, 1}, {a->Handle(), 2}})
    EXPECT_EQ(m_Db->GetObjStatistics(e.first), Lines{"Linkage_Count=" + std::to_string(e.second)}) << e.first;
  const std::vector<qvt_Handle> wanted{1, 2, 3, h, full, next, a->Handle(), b->Handle(), empty->Handle()};
  EXPECT_EQ(m_Db->ObjectHandles(), wanted);
  m_Db->Flush();
  const auto at = [&](qvt_Handle handle) { return m_Db->LinkageEntry(handle).m_Location; };
  const qvt_Handle secondExtent = m_Db->LinkageEntry(a->Handle()).m_Next;
  const utl_FileOffset second = at(secondExtent);
  const utl_FileOffset records = at(m_Db->LinkageEntry(1).m_Next);
  EXPECT_EQ(at(next), at(full) + 8);
  const std::string none = "Object not found.";
  const std::pair<long long, std::string> reports[] = {
      {0, none},     // the header
      {1024, none},  // linkage block 0
      {-1, none},
      {1LL << 40, none},
      {at(h) + 9, Located(h, 9)},
      {at(h) + 10, none},
      {at(h) + 99, none},
      {at(full) + 7, Located(full, 7)},
      {at(full) + 8, Located(next, 0)},
      {second + 5, Located(a->Handle(), 9)},
      {second + 6, none},
      {second + 5, Located(a->Handle(), 9)},  // repeatable: the marks are rebuilt on every call
      {at(b->Handle()), Located(b->Handle(), 0)},
      {at(1), Located(1, 0)},
      {at(1) + 3, Located(1, 3)},
      {records, "Object: 00000001 - Offset:                    4"},
      {records + 7, Located(1, 11)},
      {at(3), Located(3, 0)}};
  for (const auto& r : reports) EXPECT_EQ(m_Db->GetObjectLocationReport(r.first), r.second) << r.first;
  qvt_DatabaseRepr& base = *m_Db;
  EXPECT_EQ(base.qvt_DatabaseRepr::GetObjectLocationReport(0),
            "Object location report not supported for this qvt database type.");
  // A last extent naming itself, or a slot beyond those handed out, is never walked.
  const std::string corrupt =
      "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Path("stats.odb");
  for (const qvt_Handle loop : {secondExtent, qvt_Handle(400)}) {
    m_Db->LinkageEntry(secondExtent).m_Next = loop;
    QVT_EXPECT_THROW_TEXT(m_Db->GetObjStatistics(a->Handle()), nex_TextException, corrupt);
    QVT_EXPECT_THROW_TEXT(m_Db->GetObjectLocationReport(0), nex_TextException, corrupt);
  }
  m_Db->LinkageEntry(secondExtent).m_Next = 0;
  const qvt_Handle ha = a->Handle();
  for (auto* space : {&a, &b, &empty}) space->reset();
  Reopen();
  EXPECT_EQ(m_Db->GetObjStatistics(ha), Lines{"Linkage_Count=2"});
  EXPECT_EQ(m_Db->ObjectHandles(), wanted);
}

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
  } cases[] = {{utl_FileAccessRead, false, "", "set unlocked, status 0\ncleared\n", ""},
               {utl_FileAccessUpdate, true, "", "set locked, status 4\ncleared\n", prompts},
               {utl_FileAccessUpdate, false, "0123456789abc\n", "set locked, status 4\ncleared\n", prompts},
               {utl_FileAccessCreate, false, "", "set locked, status 0\ncleared\n", prompts}};
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
  ASSERT_TRUE(child.WriteStdin("go\n") && child.WaitForStdout("set locked, status 4\n", 20000));
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
