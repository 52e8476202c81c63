// Tagged streams on a database file of each kind: the stored bytes of every
// record kind, round trips through close and reopen with blocks smaller than
// a record, records cut off at every length, damaged headers and records,
// flush counts and shared handles.
#include "qvt_TaggedStream.h"

#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

const char kReadOnly[] =
    "The output database was opened as read-only. Modification of data is not permitted.";
const std::string kOpen = "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: ";

// A plain space holding the given big-endian words.
qvt_Handle SpaceOfWords(qvt_Database& db, const std::vector<int>& words) {
  qvt_Space space = db.Space(-1);
  for (int w : words) space.WriteInt(w);
  return space.Handle();
}

class TaggedStreamTest : public DatabaseKindTest {};

// Behind the 8-byte header (magic, flush count): type, identifier, value; a
// handle then a zero word; a fixed string's width, then its text padded to
// a multiple of four.
TEST_P(TaggedStreamTest, RecordLayoutsAreExact) {
  qvt_Database db = CreateDb();
  qvt_TaggedStream s = db.TaggedStream(0);
  EXPECT_EQ(s.Handle(), 4u);
  EXPECT_FALSE(s.Next());
  EXPECT_EQ(s.Flush(), 1);
  EXPECT_EQ(Words(SpaceBytes(db, 4), 0, 2), (std::vector<std::uint32_t>{0xFAAFEBBEu, 1}));
  s.WriteInt(5, 42);
  EXPECT_EQ(s.GetType(), qvt_TypeInt);  // the record just written is the current one
  EXPECT_EQ(s.GetInt(), 42);
  s.WriteHandle(1, 0x01020304u);
  s.WriteFixedString(9, "hello");
  s.WriteFixedString(3, "");
  s.WriteFixedString(4, "four");
  s.Flush();
  const std::vector<unsigned char> bytes = SpaceBytes(db, 4);
  ASSERT_EQ(bytes.size(), 8u + 12u + 16u + 20u + 12u + 16u);
  EXPECT_EQ(Words(bytes, 4, 8), (std::vector<std::uint32_t>{2, 1, 5, 42, 2, 1, 0x01020304u, 0}));
  EXPECT_EQ(Words(bytes, 36, 3), (std::vector<std::uint32_t>{7, 9, 8}));
  EXPECT_EQ(std::string(bytes.begin() + 48, bytes.begin() + 56), std::string("hello\0\0\0", 8));
  EXPECT_EQ(Words(bytes, 56, 6), (std::vector<std::uint32_t>{7, 3, 0, 7, 4, 4}));
  EXPECT_EQ(std::string(bytes.begin() + 80, bytes.end()), "four");
  EXPECT_EQ(s.Snap(), 0);     // a writer never snaps
  qvt_TaggedStream copy = s;  // copies share one current record
  copy.WriteDouble(3, 1.5);
  EXPECT_EQ(s.GetDouble(), 1.5);
  EXPECT_EQ(s.Flush(), 3);
  EXPECT_EQ(s.SpaceLength(), 84 + 16);  // the flushes kept the position
}

TEST_P(TaggedStreamTest, EveryKindSurvivesReopeningThroughSmallBlocks) {
  {
    qvt_Database db = CreateDb();
    qvt_TaggedStream s = db.TaggedStream(24);  // records cross block boundaries
    for (int i = 0; i < 300; ++i) WriteTaggedRecord(*s.Repr(), i);
    EXPECT_EQ(s.Flush(), 1);
    db.Flush();
  }
  qvt_Database db = OpenDb();
  EXPECT_EQ(db.HandleType(4), qvt_TypeTaggedStream);
  qvt_TaggedStream s = db.TaggedStream(4, 40);
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(s.Next());
    ExpectTaggedRecord(*s.Repr(), i);
    ASSERT_EQ(s.GetID(), i);
  }
  EXPECT_FALSE(s.Next());  // the last record stays current
  EXPECT_EQ((std::vector<double>{s.GetFloat(), s.GetDouble(), static_cast<double>(s.GetHandle())}),
            (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(s.GetString(), std::string(299 % 13, 'f'));
  EXPECT_EQ(StringReference(db, "pooled 4"), 4);  // the first pooled string, stored once
  EXPECT_EQ(s.Flush(), 0);
  EXPECT_GE(s.SpaceAllocation(), s.SpaceLength());
  EXPECT_EQ(s.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  QVT_EXPECT_THROW_TEXT(s.WriteInt(1, 1), nex_TextException, kReadOnly);
}

// Every record kind, cut at every length inside it: the scalar parts fail
// with the end-of-file message, a fixed text ends with the space.
TEST_P(TaggedStreamTest, RecordsCutAtEveryLength) {
  qvt_Database db = CreateDb();
  qvt_TaggedStream w = db.TaggedStream(0);
  w.WriteInt(1, 11);
  w.WriteHandle(2, 513);
  w.WriteFloat(3, 1.5f);
  w.WriteDouble(4, 2.5);
  w.WriteString(5, "text");
  w.WriteFixedString(6, "abcdefg");
  w.Flush();
  const std::vector<unsigned char> whole = SpaceBytes(db, w.Handle());
  const std::size_t sizes[] = {12, 16, 12, 16, 16, 20};
  std::size_t start = 8;
  for (std::size_t kind = 0; kind < 6; ++kind) {
    for (std::size_t cut = 1; cut < sizes[kind]; ++cut) {
      qvt_Space space = db.Space(-1);
      space.Write(reinterpret_cast<const char*>(whole.data()), static_cast<int>(start + cut));
      qvt_TaggedStream r = db.TaggedStream(space.Handle(), 0);
      for (std::size_t k = 0; k < kind; ++k) ASSERT_TRUE(r.Next());
      if (kind == 5 && cut >= 12) {
        ASSERT_TRUE(r.Next()) << cut;
        EXPECT_EQ(r.GetString(), std::string("abcdefg").substr(0, cut - 12)) << cut;
        EXPECT_FALSE(r.Next());
      } else {
        QVT_EXPECT_THROW_TEXT(r.Next(), nex_TextException, "***ERROR: Unexpected End Of File.");
      }
    }
    start += sizes[kind];
  }
  EXPECT_EQ(start, whole.size());
}

TEST_P(TaggedStreamTest, DamagedHeadersAndRecords) {
  qvt_Database db = CreateDb();
  const int magic = static_cast<int>(0xFAAFEBBEu);
  QVT_EXPECT_THROW_TEXT(db.TaggedStream(SpaceOfWords(db, {magic}), 0), nex_TextException,
                        kOpen + "Tagged stream object format is corrupt in ODB/CAE.  File may be unusable.");
  QVT_EXPECT_THROW_TEXT(
      db.TaggedStream(SpaceOfWords(db, {static_cast<int>(0xFFFAEEEBu), 0, 1, 1}), 0), nex_TextException,
      kOpen + "Handle is not to a Tagged Stream object in ODB/CAE file.  File may be unusable.");
  // Type codes that hold no value fail the assertion and stay current.
  for (int type : {5, 0, 8, 9, 10, -1, 1000}) {
    qvt_TaggedStream s = db.TaggedStream(SpaceOfWords(db, {magic, 0, type, 77, 1, 2, 3, 4}), 0);
    QVT_EXPECT_THROW_TEXT(s.Next(), nex_AssertException,
                          "qvt_TaggedStreamRepr::Next: Bad type from Tagged Stream.");
    EXPECT_EQ(static_cast<int>(s.GetType()), type);
    EXPECT_EQ(s.GetID(), 77);
  }
  // A fixed width beyond the space ends with it; a negative one reads
  // nothing.
  qvt_TaggedStream wide = db.TaggedStream(SpaceOfWords(db, {magic, 0, 7, 1, 0x7FFFFFF0, 0x41424344}), 0);
  ASSERT_TRUE(wide.Next());
  EXPECT_EQ(wide.GetString(), "ABCD");
  EXPECT_FALSE(wide.Next());
  qvt_TaggedStream negative = db.TaggedStream(SpaceOfWords(db, {magic, 0, 7, 2, -8, 1, 3, 4}), 0);
  ASSERT_TRUE(negative.Next());
  EXPECT_EQ(negative.GetString(), "");
  ASSERT_TRUE(negative.Next());
  EXPECT_EQ(negative.GetInt(), 4);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TaggedStreamTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
