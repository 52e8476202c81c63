// The public database handle, spaces, library start and end, statistics and location reports.
#include "qvt_Database.h"

#include <tuple>

#include "qvt_BufferedSpace.h"
#include "qvt_ObjectShapes.h"
#include "qvt_SpaceRepr.h"
#include "qvt_StringManagerFile.h"
#include "qvt_TablesFixture.h"

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
        {{}, qvt_TypeOther},
    };
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
  QVT_EXPECT_THROW_TEXT(db.Space(-1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(db.Table("Root", 0, -1), nex_TextException, kReadOnly);
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

const Lines kNewDatabaseLines = {
    "Block 0 Size (bytes)=1024",
    "Total Linkage Usage (bytes)=               14336",
    "Metadata Pool Size (bytes)=                   4",
    "String Pool Size (bytes)=                   4",
    "String Pool Count (number of strings)=0",
    "String Pool Linkage_Count=1",
};

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
      {at(3), Located(3, 0)},
  };
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

}  // namespace
