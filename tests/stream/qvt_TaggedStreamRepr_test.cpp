// Tagged streams on a database file of each kind: the stored bytes of every
// record kind, round trips through close and reopen, records cut off at
// every length, bad type codes, flush counts and a reader's Snap.
#include "qvt_TaggedStreamRepr.h"

#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

const char kEof[] = "***ERROR: Unexpected End Of File.";
const char kBadType[] = "qvt_TaggedStreamRepr::Next: Bad type from Tagged Stream.";
const char kReadOnly[] =
    "The output database was opened as read-only. Modification of data is not permitted.";

using Db = std::unique_ptr<qvt_DatabaseReprFile>;
using Stream = std::unique_ptr<qvt_TaggedStreamRepr>;

Stream NewStream(qvt_DatabaseReprFile& db, int bufferSize = 0) {
  return std::make_unique<qvt_TaggedStreamRepr>(&db, bufferSize);
}
Stream OpenStream(qvt_DatabaseReprFile& db, qvt_Handle handle, int bufferSize = 0) {
  return std::make_unique<qvt_TaggedStreamRepr>(&db, handle, bufferSize);
}

// Writes a stream holding the words given after its header, as raw bytes.
qvt_Handle StreamOfWords(qvt_DatabaseReprFile& db, const std::vector<int>& records) {
  std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1));
  std::vector<int> words = {static_cast<int>(0xFAAFEBBEu), 0};
  words.insert(words.end(), records.begin(), records.end());
  space->WriteIntArray(words.data(), static_cast<int>(words.size()));
  return space->Handle();
}

class TaggedStreamReprTest : public KindTest {};

// The stored words of each record kind behind the 8-byte header (magic,
// flush count): type, identifier, value; a handle then a zero word; a
// fixed string's width, then its text padded to a multiple of four.
TEST_P(TaggedStreamReprTest, RecordLayoutsAreExact) {
  Db db = Files().Create();
  Stream s = NewStream(*db);
  EXPECT_EQ(s->Handle(), 4u);
  EXPECT_FALSE(s->Next());
  EXPECT_EQ(s->Flush(), 1);
  EXPECT_EQ(s->SpaceLength(), 8);
  EXPECT_EQ(Words(ObjectBytes(*db, 4), 0, 2), (std::vector<std::uint32_t>{0xFAAFEBBEu, 1}));
  s->WriteInt(5, 42);
  EXPECT_EQ(s->GetType(), qvt_TypeInt);  // the record just written is the current one
  EXPECT_EQ(s->GetInt(), 42);
  s->WriteHandle(1, 0x01020304u);
  s->WriteFixedString(9, "hello");
  s->WriteFixedString(3, "");
  s->WriteFixedString(4, "four");
  s->Flush();
  const std::vector<unsigned char> bytes = ObjectBytes(*db, s->Handle());
  ASSERT_EQ(bytes.size(), 8u + 12u + 16u + 20u + 12u + 16u);
  EXPECT_EQ(Words(bytes, 8, 7), (std::vector<std::uint32_t>{1, 5, 42, 2, 1, 0x01020304u, 0}));
  EXPECT_EQ(Words(bytes, 36, 3), (std::vector<std::uint32_t>{7, 9, 8}));
  EXPECT_EQ(std::string(bytes.begin() + 48, bytes.begin() + 56), std::string("hello\0\0\0", 8));
  EXPECT_EQ(Words(bytes, 56, 6), (std::vector<std::uint32_t>{7, 3, 0, 7, 4, 4}));
  EXPECT_EQ(std::string(bytes.begin() + 80, bytes.end()), "four");

  Stream r = OpenStream(*db, s->Handle());
  const struct {
    int type, id;
    std::string text;
  } records[] = {{qvt_TypeInt, 5, ""}, {qvt_TypeHandle, 1, ""}, {qvt_TypeFixedString, 9, "hello"},
                 {qvt_TypeFixedString, 3, ""}, {qvt_TypeFixedString, 4, "four"}};
  for (const auto& rec : records) {
    ASSERT_TRUE(r->Next());
    EXPECT_EQ(static_cast<int>(r->GetType()), rec.type);
    EXPECT_EQ(r->GetID(), rec.id);
    EXPECT_EQ(r->GetString(), rec.text);
  }
  EXPECT_FALSE(r->Next());  // the last record stays current
  EXPECT_EQ(r->GetString(), "four");
}

TEST_P(TaggedStreamReprTest, AllSixKindsSurviveCloseAndReopen) {
  qvt_Handle h;
  {
    Db db = Files().Create();
    Stream s = NewStream(*db, 24);  // records cross block boundaries
    for (int i = 0; i < 300; ++i) WriteTaggedRecord(*s, i);
    s->Flush();
    h = s->Handle();
    db->Flush();
  }
  Db db = Files().Open();
  Stream s = OpenStream(*db, h, 40);
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(s->Next());
    ExpectTaggedRecord(*s, i);
  }
  EXPECT_FALSE(s->Next());
  EXPECT_EQ(db->StringPool().StringOffset("pooled 4"), 4);  // the first pooled string, stored once
}

TEST_P(TaggedStreamReprTest, TypeCodesOfNoValueFailTheAssertion) {
  Db db = Files().Create();
  for (int type : {5, 0, 8, 9, 10, -1, 1000}) {
    const qvt_Handle h = StreamOfWords(*db, {type, 77, 1, 2, 3, 4});
    Stream s = OpenStream(*db, h);
    QVT_EXPECT_THROW_TEXT(s->Next(), nex_AssertException, kBadType);
    EXPECT_EQ(static_cast<int>(s->GetType()), type);
    EXPECT_EQ(s->GetID(), 77);
  }
}

// Every record kind, cut at every length inside it: the scalar parts fail
// with the end-of-file message, a fixed text ends with the space.
TEST_P(TaggedStreamReprTest, RecordsCutAtEveryLength) {
  Db db = Files().Create();
  Stream w = NewStream(*db);
  w->WriteInt(1, 11);
  w->WriteHandle(2, 513);
  w->WriteFloat(3, 1.5f);
  w->WriteDouble(4, 2.5);
  w->WriteString(5, "text");
  w->WriteFixedString(6, "abcdefg");
  w->Flush();
  const qvt_Handle source = w->Handle();
  const std::vector<unsigned char> whole = ObjectBytes(*db, source);
  const std::vector<std::size_t> sizes = {12, 16, 12, 16, 16, 20};

  std::size_t start = 8;
  for (std::size_t kind = 0; kind < sizes.size(); ++kind) {
    for (std::size_t cut = 1; cut < sizes[kind]; ++cut) {
      std::unique_ptr<qvt_SpaceRepr> space(db->Space(-1));
      space->Write(reinterpret_cast<const char*>(whole.data()), static_cast<int>(start + cut));
      Stream r = OpenStream(*db, space->Handle());
      for (std::size_t k = 0; k < kind; ++k) ASSERT_TRUE(r->Next());
      if (kind == 5 && cut >= 12) {
        ASSERT_TRUE(r->Next()) << cut;
        EXPECT_EQ(r->GetString(), std::string("abcdefg").substr(0, cut - 12)) << cut;
        EXPECT_FALSE(r->Next());
      } else {
        QVT_EXPECT_THROW_TEXT(r->Next(), nex_TextException, kEof);
      }
    }
    start += sizes[kind];
  }
  EXPECT_EQ(start, whole.size());
}

TEST_P(TaggedStreamReprTest, FixedWidthBeyondTheSpaceEndsWithIt) {
  Db db = Files().Create();
  const qvt_Handle h = StreamOfWords(*db, {7, 1, 0x7FFFFFF0, 0x41424344});
  Stream s = OpenStream(*db, h);
  ASSERT_TRUE(s->Next());
  EXPECT_EQ(s->GetString(), "ABCD");
  EXPECT_FALSE(s->Next());
  const qvt_Handle negative = StreamOfWords(*db, {7, 2, -8, 1, 3, 4});
  Stream t = OpenStream(*db, negative);
  ASSERT_TRUE(t->Next());
  EXPECT_EQ(t->GetString(), "");
  ASSERT_TRUE(t->Next());  // a negative width reads nothing
  EXPECT_EQ(t->GetInt(), 4);
}

TEST_P(TaggedStreamReprTest, OpenRefusesWhatIsNoStream) {
  Db db = Files().Create();
  std::unique_ptr<qvt_SpaceRepr> shortSpace(db->Space(-1));
  shortSpace->WriteInt(static_cast<int>(0xFAAFEBBEu));
  std::unique_ptr<qvt_SpaceRepr> arraySpace(db->Space(-1));
  const int words[] = {static_cast<int>(0xFFFAEEEBu), 0, 1, 1};
  arraySpace->WriteIntArray(words, 4);
  QVT_EXPECT_THROW_TEXT(
      OpenStream(*db, shortSpace->Handle()), nex_TextException,
      "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: Tagged stream object format is corrupt in "
      "ODB/CAE.  File may be unusable.");
  QVT_EXPECT_THROW_TEXT(
      OpenStream(*db, arraySpace->Handle()), nex_TextException,
      "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: Handle is not to a Tagged Stream object in "
      "ODB/CAE file.  File may be unusable.");
}

TEST_P(TaggedStreamReprTest, FlushCountsUpAndKeepsPositionAndReadersRefuseRecords) {
  {
    Db db = Files().Create();
    Stream s = NewStream(*db);
    s->WriteDouble(1, 1.0);
    EXPECT_EQ(s->Flush(), 1);
    EXPECT_EQ(s->Flush(), 2);
    EXPECT_EQ(s->Flush(), 3);
    EXPECT_EQ(s->Snap(), 0);
    s->WriteInt(2, 2);  // lands after the first record, not over the header
    s->Flush();
    EXPECT_EQ(s->SpaceLength(), 8 + 16 + 12);
    EXPECT_EQ(BE32(ObjectBytes(*db, s->Handle()), 4), 4u);
  }
  Db db = Files().Open();
  Stream s = OpenStream(*db, 4);
  EXPECT_EQ(s->Flush(), 0);
  ASSERT_TRUE(s->Next());
  QVT_EXPECT_THROW_TEXT(s->WriteInt(2, 2), nex_TextException, kReadOnly);
}

TEST_P(TaggedStreamReprTest, StatisticsCountTheExtentsOfTheSpace) {
  Db db = Files().Create();
  Stream a = NewStream(*db);
  Stream b = NewStream(*db);
  a->WriteInt(1, 1);
  a->Flush();
  b->WriteInt(1, 1);
  b->Flush();
  EXPECT_EQ(a->GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  a->WriteDouble(2, 2.0);
  a->Flush();
  EXPECT_EQ(a->GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=2"}));
  EXPECT_EQ(a->SpaceLength(), 8 + 12 + 16);
  EXPECT_GE(a->SpaceAllocation(), a->SpaceLength());
}

INSTANTIATE_TEST_SUITE_P(Kinds, TaggedStreamReprTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
