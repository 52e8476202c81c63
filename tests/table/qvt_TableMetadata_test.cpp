// Table class shapes: definitions, the stored record byte for byte and
// damaged records, lookups of absent fields, CopyAllowed, copies and natural
// order. The merging read is checked through Bind in the metadata pool test.
#include "qvt_TableMetadata.h"

#include <functional>
#include <map>

#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

const char kCorrupt[] = "***ERROR: Metadata is corrupt in KELVOR database file.";

qvt_TableMetadata Shape(const std::string& name, const std::vector<std::pair<std::string, int>>& fields,
                        int version = 1) {
  using Define = int (qvt_TableMetadata::*)(const cow_String&);
  static const std::map<int, Define> kDefine = {{qvt_TypeInt, &qvt_TableMetadata::DefineIntField},
                                                {qvt_TypeHandle, &qvt_TableMetadata::DefineHandleField},
                                                {qvt_TypeFloat, &qvt_TableMetadata::DefineFloatField},
                                                {qvt_TypeDouble, &qvt_TableMetadata::DefineDoubleField},
                                                {qvt_TypeString, &qvt_TableMetadata::DefineStringField}};
  qvt_TableMetadata md(name, version);
  for (const auto& f : fields) (md.*kDefine.at(f.second))(f.first);
  return md;
}

class TableMetadataTest : public ::testing::Test {
 protected:
  // Writes md at offset 0 of the stream and seeks back to 0.
  void Store(const qvt_TableMetadata& md) {
    m_Stream.Seek(0);
    md.WriteTo(m_Stream);
    m_Stream.Seek(0);
  }
  // A raw record: length, name, then (type, name) pairs.
  void StoreRaw(int length, const std::vector<std::pair<int, std::string>>& fields) {
    m_Stream.Bytes().clear();
    m_Stream.Seek(0);
    m_Stream.WriteInt(length);
    m_Stream.WriteString("T");
    for (const auto& f : fields) {
      m_Stream.WriteInt(f.first);
      m_Stream.WriteString(f.second);
    }
    m_Stream.Seek(0);
  }
  // The pool text a stored reference at offset names.
  std::string TextAt(std::size_t offset) {
    const std::uint64_t index = omi_Bytes::GetBE64(m_Stream.Bytes().data() + offset);
    return index == 0 || index > m_Stream.Pool().Strings().size() ? "?"
                                                                  : m_Stream.Pool().Strings()[index - 1];
  }
  MemoryIOS m_Stream;
};

TEST_F(TableMetadataTest, IndicesFollowDefinitionOrderWhileTheRecordFollowsNames) {
  qvt_TableMetadata md("T", 1);
  EXPECT_EQ(md.DefineIntField("b"), 0);
  EXPECT_EQ(md.DefineDoubleField("a"), 1);
  Store(md);
  const auto& bytes = m_Stream.Bytes();
  ASSERT_EQ(bytes.size(), 36u);
  EXPECT_EQ(BE32(bytes, 0), 36u);
  EXPECT_EQ(md.RecordLength(8), 36);
  EXPECT_EQ((std::vector<std::string>{TextAt(4), TextAt(16), TextAt(28)}),
            (std::vector<std::string>{"T", "a", "b"}));
  EXPECT_EQ(BE32(bytes, 12), static_cast<std::uint32_t>(qvt_TypeDouble));
  EXPECT_EQ(BE32(bytes, 24), static_cast<std::uint32_t>(qvt_TypeInt));
  qvt_TableMetadata back(m_Stream, 7);
  EXPECT_EQ(back.Name(), "T");
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle(0)).Name(), "a");
  EXPECT_EQ(
      (std::vector<int>{back.ClassVersion(), back.FieldCount(), back.GetFieldMD(qvt_FieldHandle("a")).Index(),
                        back.GetFieldMD(qvt_FieldHandle("b")).Index(),
                        back.GetFieldMD(qvt_FieldHandle(1)).Type(), static_cast<int>(m_Stream.Location())}),
      (std::vector<int>{7, 2, 0, 1, qvt_TypeInt, 36}));
}

// The type and lookup refusals of Verify are checked through rows; here an
// index wins over a name, an absent field answers a placeholder, and a
// duplicate definition changes nothing.
TEST_F(TableMetadataTest, IndexWinsAbsentFieldsAnswerAPlaceholderDuplicatesAreRefused) {
  qvt_TableMetadata md = Shape("T", {{"n", qvt_TypeInt}, {"s", qvt_TypeString}});
  EXPECT_NO_THROW(md.Verify(qvt_FieldHandle("nonsense", 0), qvt_TypeInt));
  for (const qvt_FieldHandle& absent : {qvt_FieldHandle("absent"), qvt_FieldHandle(5)}) {
    const qvt_FieldMetadata& none = md.GetFieldMD(absent);
    EXPECT_EQ(none.Name(), "novalue");
    EXPECT_EQ((std::vector<int>{none.Type(), none.Index(), none.Present()}),
              (std::vector<int>{qvt_TypeNone, -1, 1}));
  }
  QVT_EXPECT_THROW_TEXT(md.DefineDoubleField("n"), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"n\"");
  EXPECT_EQ((std::vector<int>{md.FieldCount(), md.GetFieldMD(qvt_FieldHandle("n")).Type(),
                              md.DefineFloatField("b")}),
            (std::vector<int>{2, qvt_TypeInt, 2}));
}

TEST_F(TableMetadataTest, CopyAllowedAnswers) {
  const auto oneInt = Shape("C", {{"i", qvt_TypeInt}});
  const auto intAndMore = Shape("D", {{"i", qvt_TypeInt}, {"d", qvt_TypeDouble}});
  const auto withHandle = Shape("F", {{"h", qvt_TypeHandle}, {"i", qvt_TypeInt}});
  const struct {
    qvt_TableMetadata to, from;
    int answer;
  } cases[] = {
      {Shape("A", {{"i", qvt_TypeInt}, {"s", qvt_TypeString}}),
       Shape("B", {{"s", qvt_TypeString}, {"i", qvt_TypeInt}}), 2},
      {oneInt, intAndMore, 3},
      {intAndMore, oneInt, 0},
      {oneInt, oneInt, 1},
      {oneInt, Shape("E", {{"i", qvt_TypeFloat}}), 0},
      {withHandle, withHandle, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.to.CopyAllowed(c.from), c.answer) << c.to.Name() << " " << c.from.Name();
  // A field known but not stored in the other shape forbids copying.
  Store(Shape("S", {{"d", qvt_TypeDouble}}));
  const qvt_TableMetadata merged(m_Stream, Shape("S", {{"i", qvt_TypeInt}, {"d", qvt_TypeDouble}}).FieldMap(),
                                 1);
  EXPECT_EQ(intAndMore.CopyAllowed(merged), 0);
  EXPECT_EQ(merged.CopyAllowed(intAndMore), 3);
}

TEST_F(TableMetadataTest, DamagedRecordsAreRefused) {
  for (int length : {0, -12, 11, 13, 23}) {
    StoreRaw(length, {});
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, 1), nex_TextException, kCorrupt);
  }
  for (int code : {5, 11, -1, 0x7FFFFFFF}) {
    StoreRaw(24, {{code, "a"}});
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, 1), nex_TextException, kCorrupt);
  }
  StoreRaw(36, {{qvt_TypeInt, "a"}, {qvt_TypeFloat, "a"}});
  QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, 1), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"a\"");
  // Known codes that rows cannot hold are read; tables refuse them.
  StoreRaw(24, {{qvt_TypeTaggedStream, "a"}});
  EXPECT_EQ(qvt_TableMetadata(m_Stream, 1).GetFieldMD(qvt_FieldHandle("a")).Type(), qvt_TypeTaggedStream);
  Store(Shape("T", {{"a", qvt_TypeInt}, {"b", qvt_TypeInt}}));
  const std::size_t full = m_Stream.Bytes().size();
  for (std::size_t cut = 0; cut < full; ++cut) {
    MemoryIOS shorter;
    shorter.Pool() = m_Stream.Pool();
    shorter.Bytes().assign(m_Stream.Bytes().begin(), m_Stream.Bytes().begin() + static_cast<long>(cut));
    std::string text = "no exception";
    try {
      qvt_TableMetadata back(shorter, 1);
    } catch (const nex_TextException& e) {
      text = e.AsString();
    }
    EXPECT_TRUE(text == "***ERROR: Unexpected End Of File." || text == kCorrupt)
        << "cut at " << cut << ": " << text;
  }
}

TEST_F(TableMetadataTest, NaturalOrderCopiesAndFieldHandles) {
  for (const bool natural : {true, false}) {
    atr_setNaturalOrder(natural);
    const qvt_TableMetadata md = Shape("T", {{"f10", qvt_TypeInt}, {"f2", qvt_TypeInt}});
    atr_setNaturalOrder(false);
    EXPECT_EQ(md.FieldMap().begin()->first, natural ? "f2" : "f10");
  }
  const qvt_TableMetadata md = Shape("T", {{"z", qvt_TypeInt}, {"a", qvt_TypeInt}}, 3);
  qvt_TableMetadata other("U", 1);
  other = md;
  EXPECT_EQ(other.Name(), "T");
  EXPECT_EQ(other.ClassVersion(), 3);
  EXPECT_EQ(other.GetFieldMD(qvt_FieldHandle(0)).Name(), "z");
  EXPECT_EQ(&other.GetFieldMD(qvt_FieldHandle(1)), &other.GetFieldMD(qvt_FieldHandle("a")));
  const qvt_TableMetadata versioned(md, 9);
  EXPECT_EQ(versioned.ClassVersion(), 9);
  EXPECT_EQ(versioned.GetFieldMD(qvt_FieldHandle(1)).Name(), "a");
  EXPECT_FALSE(qvt_FieldHandle(cow_String("abc"), -1).ByIndex());
  EXPECT_TRUE(qvt_FieldHandle("xyz", 2).ByIndex());
  EXPECT_EQ(qvt_FieldHandle(cow_String("stress_"), "11", -1).Name(), "stress_11");
  EXPECT_EQ(qvt_FieldHandle(static_cast<const char*>(nullptr), -1).Name(), "");
}

}  // namespace
