// The public database handle: creating and opening with object kinds by
// handle and tables by class, sharing and closing, spaces and buffered
// spaces, and the library's initializer and finalizer.
#include "qvt_Database.h"

#include "nex_Exception.h"
#include "qvt_BufferedSpace.h"
#include "qvt_ObjectShapes.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

class DatabaseTest : public DatabaseKindTest {};

TEST_P(DatabaseTest, CreateThenOpenThroughThePublicHandle) {
  {
    qvt_Database db =
        qvt_Database::Create(OpenFileOfKind(GetParam(), Path(), 2), "ABCDEF", "results of run 7", 1234);
    EXPECT_FALSE(db.ReadOnly());
    EXPECT_EQ(db.FileName(), Path());
    EXPECT_EQ(db.GetFlushCount(), 0);
    EXPECT_EQ(db.Description().c_str(), std::string("results of run 7"));
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
  EXPECT_TRUE(db.ReadOnly());
  EXPECT_EQ(db.GetFlushCount(), 1);
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

// A space reads and writes through the handle; a buffered space starts at
// its space's location, keeps what it writes in its block until a flush or
// its last copy goes, and an assignment writes the block into the old space
// first.
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
  EXPECT_EQ(space.ReadInt(), 0x01020304);
  char text[8] = {};
  EXPECT_EQ(space.Read(text, 8), 6);
  EXPECT_EQ(std::string(text), "abcdef");
  QVT_EXPECT_THROW_TEXT(space.ReadInt(), nex_TextException, kEof);
  space.Truncate(4);
  EXPECT_EQ((std::vector<utl_FileOffset>{space.Length(), space.Location()}),
            (std::vector<utl_FileOffset>{4, 0}));
  space.Flush();
  EXPECT_EQ(db.Space(space.Handle(), 0).ReadInt(), 0x01020304);
  std::vector<char> zeros(96, '\0');
  space.Seek(4);
  space.Write(zeros.data(), 96);
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

// The interface's initializer counts itself and qvt_initialize; each
// finalizer call undoes one, and one too many changes nothing. Each pair is
// called up, up, down, down, down, twice.
TEST(LibraryStartTest, CountsItsCallsAndRestoresTheCaller) {
  const struct {
    void (*up)(int&);
    void (*down)(int&);
    int start;
    std::vector<int> seen;
  } pairs[] = {{UTI_QvtInterface_initialize, UTI_QvtInterface_finalize, 10, {12, 12, 12, 10, 10}},
               {qvt_initialize, qvt_finalize, 0, {1, 1, 1, 0, 0}}};
  for (const auto& pair : pairs) {
    for (int round = 0; round < 2; ++round) {  // the extra finalize left nothing behind
      int counter = pair.start;
      std::vector<int> seen;
      for (const auto call : {pair.up, pair.up, pair.down, pair.down, pair.down}) {
        call(counter);
        seen.push_back(counter);
      }
      EXPECT_EQ(seen, pair.seen) << round;
    }
  }
}

}  // namespace
