// Tagged streams on each file kind: record bytes, cuts, reopening, damage.
#include "qvt_TaggedStream.h"

#include "qvt_ObjectShapes.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"

using namespace qvt_test;

namespace {

const std::string kOpen = "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: ";

class TaggedStreamTest : public DatabaseKindTest {};

// Cut records end the file; records written through a smaller block read back after reopening.
TEST_P(TaggedStreamTest, RecordLayoutsCutsAndReopening) {
  {
    qvt_Database db = CreateDb();
    qvt_TaggedStream s = db.TaggedStream(24);
    EXPECT_EQ((std::vector<int>{static_cast<int>(s.Handle()), s.Next(), s.Flush()}),
              (std::vector<int>{4, 0, 1}));
    s.WriteInt(5, 42);  // the record just written is the current one
    EXPECT_EQ((std::vector<int>{s.GetType(), s.GetInt()}), (std::vector<int>{qvt_TypeInt, 42}));
    s.WriteHandle(1, 0x01020304u);
    s.WriteFloat(3, 1.5f);
    s.WriteString(6, "text");
    s.WriteFixedString(9, "hello");
    s.WriteFixedString(3, "");
    s.WriteFixedString(4, "four");
    qvt_TaggedStream copy = s;  // copies share one current record
    copy.WriteDouble(8, 2.5);
    EXPECT_EQ(s.GetDouble(), 2.5);
    EXPECT_EQ((std::vector<int>{s.Flush(), s.Snap()}), (std::vector<int>{2, 0}));  // a writer never snaps
    const std::vector<unsigned char> whole = SpaceBytes(db, 4);
    ASSERT_EQ(whole.size(), 8u + 12u + 16u + 12u + 16u + 20u + 12u + 16u + 16u);
    const std::uint32_t hello = 0x68656C6Cu, o = 0x6F000000u, four = 0x666F7572u;  // padded text
    EXPECT_EQ(
        Words(whole, 0, 32),
        (std::vector<std::uint32_t>{
            0xFAAFEBBEu, 2, 1, 5,     42, 2, 1, 0x01020304u, 0, 3, 3, 0x3FC00000u, 6, 6, 0x40100000u, 0,
            7,           9, 8, hello, o,  7, 3, 0,           7, 4, 4, four,        4, 8, 0x40040000u, 0}));
    for (int i = 0; i < 300; ++i) WriteTaggedRecord(*s.Repr(), i);
    s.Flush();
    // A fixed text cut inside ends with the space, as a damaged width does.
    const std::size_t sizes[] = {12, 16, 12, 16, 20, 12, 16, 16};
    const std::size_t cutsUpTo[] = {12, 16, 12, 16, 12, 12, 12, 16};
    std::size_t start = 8;
    for (std::size_t kind = 0; kind < 8; ++kind) {
      for (std::size_t cut = 1; cut < cutsUpTo[kind]; ++cut) {
        const std::vector<unsigned char> bytes(whole.begin(), whole.begin() + static_cast<long>(start + cut));
        qvt_TaggedStream r = db.TaggedStream(SpaceOfWords(db, {}, bytes), 0);
        for (std::size_t k = 0; k < kind; ++k) ASSERT_TRUE(r.Next());
        QVT_EXPECT_THROW_TEXT(r.Next(), nex_TextException, kEof);
      }
      start += sizes[kind];
    }
  }
  qvt_Database db = OpenDb();
  qvt_TaggedStream s = db.TaggedStream(4, 40);
  for (int k = 0; k < 8; ++k) ASSERT_TRUE(s.Next());  // the records above
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(s.Next());
    ExpectTaggedRecord(*s.Repr(), i);
  }
  EXPECT_EQ((std::vector<int>{s.Next(), s.Flush()}), (std::vector<int>{0, 0}));
  EXPECT_EQ(s.GetString(), std::string(299 % 13, 'f'));  // the last record stays current
  EXPECT_EQ(s.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  QVT_EXPECT_THROW_TEXT(s.WriteInt(1, 1), nex_TextException, kReadOnly);
}

TEST_P(TaggedStreamTest, DamagedHeadersAndRecords) {
  qvt_Database db = CreateDb();
  QVT_EXPECT_THROW_TEXT(db.TaggedStream(SpaceOfWords(db, {kStreamMagic}), 0), nex_TextException,
                        kOpen + "Tagged stream object format is corrupt in ODB/CAE.  File may be unusable.");
  QVT_EXPECT_THROW_TEXT(
      db.TaggedStream(SpaceOfWords(db, {kArrayMagic, 0, 1, 1}), 0), nex_TextException,
      kOpen + "Handle is not to a Tagged Stream object in ODB/CAE file.  File may be unusable.");
  // Type codes that hold no value fail the assertion and stay current.
  for (int type : {5, 0, 8, 9, 10, -1, 1000}) {
    qvt_TaggedStream s = db.TaggedStream(SpaceOfWords(db, {kStreamMagic, 0, type, 77, 1, 2, 3, 4}), 0);
    QVT_EXPECT_THROW_TEXT(s.Next(), nex_AssertException,
                          "qvt_TaggedStreamRepr::Next: Bad type from Tagged Stream.");
    EXPECT_EQ((std::vector<int>{s.GetType(), s.GetID()}), (std::vector<int>{type, 77}));
  }
  // A fixed width beyond the space ends with it; a negative one reads nothing.
  qvt_TaggedStream wide =
      db.TaggedStream(SpaceOfWords(db, {kStreamMagic, 0, 7, 1, 0x7FFFFFF0, 0x41424344}), 0);
  ASSERT_TRUE(wide.Next());
  EXPECT_EQ(wide.GetString(), "ABCD");
  EXPECT_FALSE(wide.Next());
  qvt_TaggedStream negative = db.TaggedStream(SpaceOfWords(db, {kStreamMagic, 0, 7, 2, -8, 1, 3, 4}), 0);
  ASSERT_TRUE(negative.Next());
  EXPECT_EQ(negative.GetString(), "");
  ASSERT_TRUE(negative.Next());
  EXPECT_EQ(negative.GetInt(), 4);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TaggedStreamTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
