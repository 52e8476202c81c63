// The public database handle: opening and creating, sharing and closing,
// object kinds by handle, spaces and buffered spaces, tables by class,
// and the library's initializer and finalizer.
#include <gtest/gtest.h>

#include "nex_Exception.h"
#include "qvt_BufferedSpace.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::BE32;
using qvt_test::DatabaseKindTest;
using qvt_test::FileKind;
using qvt_test::ReadAll;

qvt_TableMetadata OneInt(const std::string& name) {
  qvt_TableMetadata md(name, 1);
  md.DefineIntField("n");
  return md;
}

class DatabaseTest : public DatabaseKindTest {};

TEST_P(DatabaseTest, CreateThenOpenThroughThePublicHandle) {
  {
    qvt_File file = qvt_test::OpenFileOfKind(GetParam(), Path(), 2);
    qvt_Database db = qvt_Database::Create(file, "ABCDEF", "results of run 7", 1234);
    EXPECT_FALSE(db.ReadOnly());
    EXPECT_EQ(db.FileName(), Path());
    EXPECT_EQ(db.GetFlushCount(), 0);
    EXPECT_EQ(db.RootTableHandle(), 4u);
    EXPECT_EQ(db.RootTableHandle2(), 5u);
    EXPECT_EQ(db.Description().c_str(), std::string("results of run 7"));
  }
  qvt_File file = qvt_File::Open(Path(), 0, true);
  EXPECT_TRUE(qvt_Database::IsMagic(file, "ABCD"));
  EXPECT_TRUE(qvt_Database::IsMagic(file, ""));
  EXPECT_FALSE(qvt_Database::IsMagic(file, "ABCE"));
  EXPECT_EQ(qvt_Database::GetCreationTime(file), 1234);
  qvt_Database db = qvt_Database::Open(file, "ABCDEF");
  EXPECT_TRUE(db.ReadOnly());
  EXPECT_EQ(db.GetFlushCount(), 1);
  QVT_EXPECT_THROW_TEXT(qvt_Database::Open(qvt_File::Open(Path(), 0, true), "XY"), nex_TextException,
                        "***ERROR: Incorrect magic number in file: \"" + Path() + "\"  .");
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

TEST_P(DatabaseTest, HandleTypeReadsTheFirstInts) {
  qvt_Database db = CreateDb();
  qvt_Table table = db.Table(OneInt("T"), 0, -1);
  auto spaceWith = [&](std::vector<int> ints) {
    qvt_Space s = db.Space(-1);
    for (int v : ints) s.WriteInt(v);
    return s.Handle();
  };
  const qvt_Handle tagged = spaceWith({static_cast<int>(0xFAAFEBBEu)});
  const qvt_Handle doubles = spaceWith({static_cast<int>(0xFFFAEEEBu), 0, 4, 1});
  const qvt_Handle strings = spaceWith({static_cast<int>(0xFFFAEEEBu), 0, 6, 1});
  const qvt_Handle damagedArray = spaceWith({static_cast<int>(0xFFFAEEEBu), 0, 99, 1});
  const qvt_Handle plain = spaceWith({1, 2, 3});
  const qvt_Handle empty = db.Space(-1).Handle();
  EXPECT_EQ(db.HandleType(table.Handle()), qvt_TypeTable);
  EXPECT_EQ(db.HandleType(tagged), qvt_TypeTaggedStream);
  EXPECT_EQ(db.HandleType(doubles), qvt_TypeDouble);
  EXPECT_EQ(db.HandleType(strings), qvt_TypeString);
  EXPECT_EQ(db.HandleType(damagedArray), qvt_TypeOther);
  EXPECT_EQ(db.HandleType(plain), qvt_TypeOther);
  EXPECT_EQ(db.HandleType(empty), qvt_TypeOther);
  EXPECT_EQ(db.HandleType(1), qvt_TypeOther);
  EXPECT_EQ(db.HandleType(3), qvt_TypeOther);
  QVT_EXPECT_THROW_TEXT(db.HandleType(0), nex_TextException,
                        "***ERROR: Database is not valid. This may indicate that the database has been "
                        "corrupted.");
}

TEST_P(DatabaseTest, FirstTwoTablesAreTheRootTables) {
  qvt_Database db = CreateDb();
  db.Bind(OneInt("Root"));
  qvt_Table first = db.Table("Root", 0, -1);
  qvt_Table second = db.Table(OneInt("Other"), 0, -1);
  EXPECT_EQ(first.Handle(), db.RootTableHandle());
  EXPECT_EQ(second.Handle(), db.RootTableHandle2());
  QVT_EXPECT_THROW_TEXT(db.Table("Unbound", 0, -1), nex_TextException,
                        "***ERROR: Can't find table metadata, \"Unbound\" in KELVOR database file.");
  qvt_Table copy = first;
  EXPECT_EQ(copy.Handle(), first.Handle());
  copy.NewRow().WriteFieldInt("n", 1);
  EXPECT_EQ(first.Length(), 1);
}

TEST_P(DatabaseTest, SpacesReadAndWriteThroughTheHandle) {
  qvt_Database db = CreateDb();
  qvt_Space space = db.Space(16);
  EXPECT_FALSE(space.ReadOnly());
  space.WriteInt(0x01020304);
  space.Write("abcdef", 6);
  EXPECT_EQ(space.Length(), 10);
  EXPECT_EQ(space.Location(), 10);
  EXPECT_EQ(space.Allocation(), 16);
  space.Extend(20);
  EXPECT_GE(space.Allocation(), 30);
  space.Seek(0);
  EXPECT_EQ(space.ReadInt(), 0x01020304);
  char text[8] = {};
  EXPECT_EQ(space.Read(text, 8), 6);
  EXPECT_EQ(std::string(text), "abcdef");
  QVT_EXPECT_THROW_TEXT(space.ReadInt(), nex_TextException, "***ERROR: Unexpected End Of File.");
  space.Truncate(4);
  EXPECT_EQ(space.Length(), 4);
  EXPECT_EQ(space.Location(), 0);
  space.Flush();
  qvt_Space again = db.Space(space.Handle(), 0);
  EXPECT_EQ(again.Length(), 4);
  EXPECT_EQ(again.ReadInt(), 0x01020304);
}

TEST_P(DatabaseTest, BufferedSpaceStartsAtTheSpacesLocationAndWritesOnFlush) {
  qvt_Database db = CreateDb();
  qvt_Space space = db.Space(-1);
  std::vector<char> zeros(100, '\0');
  space.Write(zeros.data(), 100);
  EXPECT_EQ(space.Location(), 100);
  {
    qvt_BufferedSpace buffered(space);
    EXPECT_EQ(buffered.Location(), 100);
    EXPECT_EQ(buffered.Handle(), space.Handle());
    const int ints[2] = {7, 8};
    buffered.WriteIntArray(ints, 2);
    const double d = 2.5;
    buffered.WriteDoubleArray(&d, 1);
    const float f = 1.25f;
    buffered.WriteFloatArray(&f, 1);
    EXPECT_EQ(buffered.Length(), 120);
    EXPECT_EQ(space.Length(), 100);  // still in the block
    qvt_BufferedSpace shared = buffered;
    buffered.Flush();
    EXPECT_EQ(space.Length(), 120);
    shared.Write("tail", 4);
  }
  EXPECT_EQ(space.Length(), 124);  // written when the last copy went
  qvt_BufferedSpace reader(space);
  reader.Seek(100);
  int ints[2] = {};
  EXPECT_EQ(reader.ReadIntArray(ints, 2), 2);
  EXPECT_EQ(ints[1], 8);
  double d = 0;
  EXPECT_EQ(reader.ReadDoubleArray(&d, 1), 1);
  EXPECT_EQ(d, 2.5);
  float f = 0;
  EXPECT_EQ(reader.ReadFloatArray(&f, 1), 1);
  EXPECT_EQ(f, 1.25f);
  char tail[4];
  EXPECT_EQ(reader.Read(tail, 4), 4);
  EXPECT_EQ(std::string(tail, 4), "tail");
  EXPECT_EQ(reader.ReadIntArray(ints, 1), 0);
  EXPECT_FALSE(reader.ReadOnly());
  EXPECT_GE(reader.Allocation(), 124);
}

TEST_P(DatabaseTest, BufferedSpaceAssignmentWritesIntoTheOldSpaceFirst) {
  qvt_Database db = CreateDb();
  qvt_Space first = db.Space(-1);
  qvt_Space second = db.Space(-1);
  const qvt_Handle firstHandle = first.Handle();
  qvt_BufferedSpace buffered(first);
  first = second;  // the buffered space now holds the only share of the first space
  buffered.Write("pending", 7);
  buffered = qvt_BufferedSpace(second);
  EXPECT_EQ(db.Space(firstHandle, -1).Length(), 7);
}

TEST_P(DatabaseTest, ReadOnlyDatabaseRefusesNewObjects) {
  { CreateDb().Bind(OneInt("T")); }
  qvt_Database db = OpenDb();
  db.Bind();
  const char* readOnly = "The output database was opened as read-only. Modification of data is not permitted.";
  QVT_EXPECT_THROW_TEXT(db.Space(-1), nex_TextException, readOnly);
  QVT_EXPECT_THROW_TEXT(db.Table("T", 0, -1), nex_TextException, readOnly);
  db.Flush();
  EXPECT_EQ(db.GetFlushCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DatabaseTest, ::testing::ValuesIn(qvt_test::AllFileKinds()),
                         qvt_test::KindParamName);

TEST(LibraryStartTest, CountsItsCallsAndRestoresTheCaller) {
  int counter = 10;
  UTI_QvtInterface_initialize(counter);
  EXPECT_EQ(counter, 12);  // the interface, then qvt_initialize
  UTI_QvtInterface_initialize(counter);
  EXPECT_EQ(counter, 12);
  UTI_QvtInterface_finalize(counter);
  EXPECT_EQ(counter, 12);  // still initialized
  UTI_QvtInterface_finalize(counter);
  EXPECT_EQ(counter, 10);
  UTI_QvtInterface_finalize(counter);  // one too many changes nothing
  EXPECT_EQ(counter, 10);

  int own = 0;
  qvt_initialize(own);
  qvt_initialize(own);
  EXPECT_EQ(own, 1);
  qvt_finalize(own);
  EXPECT_EQ(own, 1);
  qvt_finalize(own);
  EXPECT_EQ(own, 0);
  qvt_finalize(own);
  EXPECT_EQ(own, 0);
}

}  // namespace
