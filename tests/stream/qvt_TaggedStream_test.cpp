// The public tagged-stream handle through qvt_Database: the records of
// every kind written and read back through close and reopen, shared
// handles, and a reader process picking up a writer's flushes.
#include "qvt_TaggedStream.h"

#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

class TaggedStreamTest : public DatabaseKindTest {};

TEST_P(TaggedStreamTest, EveryRecordKindSurvivesCloseAndReopen) {
  qvt_Handle h;
  {
    qvt_Database db = CreateDb();
    qvt_TaggedStream s = db.TaggedStream(0);
    s.WriteInt(5, 42);
    s.WriteHandle(1, 4);
    s.WriteFloat(-2, 0.25f);
    s.WriteDouble(7, -1e-300);
    s.WriteString(8, "pooled text");
    s.WriteFixedString(9, "fixed");
    EXPECT_EQ(s.GetType(), qvt_TypeFixedString);
    EXPECT_EQ(s.GetString(), "fixed");
    EXPECT_EQ(s.Flush(), 1);
    h = s.Handle();
    db.Flush();
  }
  qvt_Database db = OpenDb();
  EXPECT_EQ(db.HandleType(h), qvt_TypeTaggedStream);
  qvt_TaggedStream s = db.TaggedStream(h, 16);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.GetType(), qvt_TypeInt);
  EXPECT_EQ(s.GetID(), 5);
  EXPECT_EQ(s.GetInt(), 42);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.GetType(), qvt_TypeHandle);
  EXPECT_EQ(s.GetHandle(), 4u);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.GetType(), qvt_TypeFloat);
  EXPECT_EQ(s.GetID(), -2);
  EXPECT_EQ(s.GetFloat(), 0.25f);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.GetType(), qvt_TypeDouble);
  EXPECT_EQ(s.GetDouble(), -1e-300);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.GetType(), qvt_TypeString);
  EXPECT_EQ(s.GetString(), "pooled text");
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.GetType(), qvt_TypeFixedString);
  EXPECT_EQ(s.GetID(), 9);
  EXPECT_EQ(s.GetString(), "fixed");
  EXPECT_EQ(s.GetInt(), 0);
  EXPECT_FALSE(s.Next());
  EXPECT_EQ(s.SpaceLength(), 8 + 12 + 16 + 12 + 16 + 16 + 20);
  EXPECT_EQ(s.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  QVT_EXPECT_THROW_TEXT(
      s.WriteInt(1, 1), nex_TextException,
      "The output database was opened as read-only. Modification of data is not permitted.");
  QVT_EXPECT_THROW_TEXT(
      db.TaggedStream(1, 0), nex_TextException,
      "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: Handle is not to a Tagged Stream object in "
      "ODB/CAE file.  File may be unusable.");
}

TEST_P(TaggedStreamTest, CopiesOfAHandleShareOneCurrentRecord) {
  qvt_Database db = CreateDb();
  qvt_TaggedStream a = db.TaggedStream(0);
  qvt_TaggedStream b = a;
  b.WriteDouble(3, 1.5);
  EXPECT_EQ(a.GetType(), qvt_TypeDouble);
  EXPECT_EQ(a.GetDouble(), 1.5);
  EXPECT_EQ(a.Flush(), 1);
  EXPECT_EQ(b.Flush(), 2);
  EXPECT_EQ(a.Snap(), 0);
}

// A reader process walks the records, sees nothing new until the writer
// flushed and the reader refreshed its database, then continues from where
// it stood.
TEST_P(TaggedStreamTest, ReaderProcessSnapsWriterFlushesOnce) {
  if (GetParam() == FileKind::Compressed) GTEST_SKIP() << "live readers need a local file";
  qvt_Database db = CreateDb();
  qvt_TaggedStream s = db.TaggedStream(0);
  s.WriteInt(1, 100);
  s.Flush();
  db.Flush();
  const qvt_Handle handle = s.Handle();
  const std::string path = Path();

  ChildProcess reader([path, handle]() {
    qvt_Database rdb = qvt_Database::Open(qvt_File::Open(path, 0, true), "TEST");
    qvt_TaggedStream r = rdb.TaggedStream(handle, 0);
    std::string seen;
    while (r.Next())
      seen += " " + std::to_string(r.GetID()) + ":" + std::to_string(r.GetInt()) + r.GetString();
    ChildSay("opened" + seen);
    while (ChildReadLine() == "check") {
      const int snapBefore = r.Snap();
      const int dbSnap = rdb.Snap();
      const int snap1 = r.Snap();
      const int snap2 = r.Snap();
      std::string fresh;
      while (r.Next())
        fresh += " " + std::to_string(r.GetID()) + ":" + std::to_string(r.GetInt()) + r.GetString();
      ChildSay("snap " + std::to_string(snapBefore) + " " + std::to_string(dbSnap) + " " +
               std::to_string(snap1) + " " + std::to_string(snap2) + " new" + fresh);
    }
    return 0;
  });
  ASSERT_TRUE(reader.WaitForStdout("opened 1:100\n", 10000)) << reader.ErrSoFar();

  reader.WriteStdin("check\n");
  ASSERT_TRUE(reader.WaitForStdout("snap 0 0 0 0 new\n", 10000)) << reader.OutSoFar();

  s.WriteInt(2, 200);
  s.WriteString(3, "three");
  EXPECT_EQ(s.Flush(), 2);
  db.Flush();
  reader.WriteStdin("check\n");
  ASSERT_TRUE(reader.WaitForStdout("snap 0 1 2 0 new 2:200 3:0three\n", 10000)) << reader.OutSoFar();

  reader.WriteStdin("done\n");
  const ChildResult result = reader.Wait();
  EXPECT_TRUE(result.Succeeded()) << result.err;
}

INSTANTIATE_TEST_SUITE_P(Kinds, TaggedStreamTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
