// Table class shapes: definitions, the stored record byte for byte, the
// merging read, Verify, GetFieldMD and CopyAllowed.
#include "qvt_TableMetadata.h"

#include <gtest/gtest.h>

#include "qvt_OffsetMemoryStream.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::BE32;
using qvt_test::OffsetMemoryStream;
using qvt_test::OffsetStringPool;

class TableMetadataTest : public ::testing::Test {
 protected:
  // Writes md at offset 0 of the stream and seeks back to 0.
  void Store(const qvt_TableMetadata& md) {
    m_Stream.Seek(0);
    md.WriteTo(m_Stream);
    m_Stream.Seek(0);
  }
  std::int64_t Ref(const std::string& text) { return m_Stream.Pool().Offset(text); }
  std::int64_t RefAt(std::size_t offset) {
    return OffsetStringPool::Decode(reinterpret_cast<const char*>(m_Stream.Bytes().data() + offset));
  }

  OffsetMemoryStream m_Stream;
};

// Restores byte order for name comparisons when a test switched it.
struct NaturalOrderGuard {
  explicit NaturalOrderGuard(bool on) { atr_setNaturalOrder(on); }
  ~NaturalOrderGuard() { atr_setNaturalOrder(false); }
};

TEST_F(TableMetadataTest, IndicesFollowDefinitionOrderWhileTheRecordFollowsNames) {
  qvt_TableMetadata md("T", 1);
  EXPECT_EQ(md.DefineIntField("b"), 0);
  EXPECT_EQ(md.DefineDoubleField("a"), 1);
  Store(md);

  const auto& bytes = m_Stream.Bytes();
  ASSERT_EQ(bytes.size(), 36u);
  EXPECT_EQ(BE32(bytes, 0), 36u);
  EXPECT_EQ(RefAt(4), Ref("T"));
  EXPECT_EQ(BE32(bytes, 12), static_cast<std::uint32_t>(qvt_TypeDouble));
  EXPECT_EQ(RefAt(16), Ref("a"));
  EXPECT_EQ(BE32(bytes, 24), static_cast<std::uint32_t>(qvt_TypeInt));
  EXPECT_EQ(RefAt(28), Ref("b"));

  qvt_TableMetadata back(m_Stream, 7);
  EXPECT_EQ(back.Name(), "T");
  EXPECT_EQ(back.ClassVersion(), 7);
  EXPECT_EQ(back.FieldCount(), 2);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("a")).Index(), 0);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("b")).Index(), 1);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle(0)).Name(), "a");
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle(1)).Type(), qvt_TypeInt);
  EXPECT_EQ(m_Stream.Location(), 36);
}

TEST_F(TableMetadataTest, ThreeFieldRecordIsFortyEightBytes) {
  qvt_TableMetadata md("A", 1);
  md.DefineIntField("x");
  md.DefineFloatField("y");
  md.DefineStringField("z");
  Store(md);
  EXPECT_EQ(m_Stream.Bytes().size(), 48u);
  EXPECT_EQ(BE32(m_Stream.Bytes(), 0), 48u);
  EXPECT_EQ(md.RecordLength(8), 48);
}

TEST_F(TableMetadataTest, AllFiveTypesSurviveTheRecord) {
  qvt_TableMetadata md("All", 2);
  md.DefineIntField("i");
  md.DefineHandleField("h");
  md.DefineFloatField("f");
  md.DefineDoubleField("d");
  md.DefineStringField("s");
  Store(md);
  qvt_TableMetadata back(m_Stream, 2);
  EXPECT_EQ(back.FieldCount(), 5);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("i")).Type(), qvt_TypeInt);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("h")).Type(), qvt_TypeHandle);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("f")).Type(), qvt_TypeFloat);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("d")).Type(), qvt_TypeDouble);
  EXPECT_EQ(back.GetFieldMD(qvt_FieldHandle("s")).Type(), qvt_TypeString);
  EXPECT_EQ(back.CopyAllowed(md), 0);  // the handle field forbids copying
}

TEST_F(TableMetadataTest, MergeKeepsWantedIndicesAndMarksMissingFieldsAbsent) {
  qvt_TableMetadata stored("S", 1);
  stored.DefineFloatField("y");
  stored.DefineDoubleField("z");
  Store(stored);

  qvt_TableMetadata wanted("S", 1);
  ASSERT_EQ(wanted.DefineIntField("x"), 0);
  ASSERT_EQ(wanted.DefineFloatField("y"), 1);
  qvt_TableMetadata merged(m_Stream, wanted.FieldMap(), 4);

  EXPECT_EQ(merged.FieldCount(), 3);
  EXPECT_EQ(merged.ClassVersion(), 4);
  const qvt_FieldMetadata& x = merged.GetFieldMD(qvt_FieldHandle("x"));
  const qvt_FieldMetadata& y = merged.GetFieldMD(qvt_FieldHandle("y"));
  const qvt_FieldMetadata& z = merged.GetFieldMD(qvt_FieldHandle("z"));
  EXPECT_EQ(x.Index(), 0);
  EXPECT_EQ(x.Present(), 0);
  EXPECT_EQ(x.Type(), qvt_TypeInt);
  EXPECT_EQ(y.Index(), 1);
  EXPECT_EQ(y.Present(), 1);
  EXPECT_EQ(z.Index(), 2);
  EXPECT_EQ(z.Present(), 1);
  EXPECT_EQ(z.Type(), qvt_TypeDouble);
  EXPECT_EQ(merged.PresentFieldCount(), 2);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle(0)).Name(), "x");
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle(2)).Name(), "z");

  QVT_EXPECT_THROW_TEXT(merged.Verify(qvt_FieldHandle("x"), qvt_TypeInt), nex_TextException,
                        "***ERROR: Can't find field: \"x\"");
  QVT_EXPECT_THROW_TEXT(merged.Verify(qvt_FieldHandle(0), qvt_TypeInt), nex_TextException,
                        "***ERROR: Can't find field by index: 0");
  EXPECT_NO_THROW(merged.Verify(qvt_FieldHandle("y"), qvt_TypeFloat));
  EXPECT_NO_THROW(merged.Verify(qvt_FieldHandle(1), qvt_TypeFloat));
  EXPECT_NO_THROW(merged.Verify(qvt_FieldHandle("z"), qvt_TypeDouble));
  EXPECT_NO_THROW(merged.Verify(qvt_FieldHandle(2), qvt_TypeDouble));
  QVT_EXPECT_THROW_TEXT(merged.Verify(qvt_FieldHandle(3), qvt_TypeDouble), nex_TextException,
                        "***ERROR: Can't find field by index: 3");
}

TEST_F(TableMetadataTest, MergeRefusesAWantedFieldOfAnotherType) {
  qvt_TableMetadata stored("S", 1);
  stored.DefineFloatField("v");
  Store(stored);
  qvt_TableMetadata wanted("S", 1);
  wanted.DefineIntField("v");
  QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, wanted.FieldMap(), 1), nex_TextException,
                        "***ERROR: Field type mismatch: v");
}

TEST_F(TableMetadataTest, VerifyNamesEachFault) {
  qvt_TableMetadata md("T", 1);
  md.DefineIntField("n");
  md.DefineStringField("s");
  const qvt_TableMetadata copy(md);
  EXPECT_NO_THROW(copy.Verify(qvt_FieldHandle("n"), qvt_TypeInt));
  EXPECT_NO_THROW(copy.Verify(qvt_FieldHandle(1), qvt_TypeString));
  QVT_EXPECT_THROW_TEXT(copy.Verify(qvt_FieldHandle("n"), qvt_TypeFloat), nex_TextException,
                        "***ERROR: Field type mismatch: \"n\"");
  QVT_EXPECT_THROW_TEXT(copy.Verify(qvt_FieldHandle(0), qvt_TypeFloat), nex_TextException,
                        "***ERROR: Field type mismatch by index: 0");
  QVT_EXPECT_THROW_TEXT(copy.Verify(qvt_FieldHandle("q"), qvt_TypeInt), nex_TextException,
                        "***ERROR: Can't find field: \"q\"");
  QVT_EXPECT_THROW_TEXT(copy.Verify(qvt_FieldHandle(2), qvt_TypeInt), nex_TextException,
                        "***ERROR: Can't find field by index: 2");
  // An index of 0 or more wins over the name.
  EXPECT_NO_THROW(copy.Verify(qvt_FieldHandle("nonsense", 0), qvt_TypeInt));
}

TEST_F(TableMetadataTest, UnknownNameGivesTheNoValueField) {
  qvt_TableMetadata md("T", 1);
  md.DefineIntField("n");
  const qvt_FieldMetadata& none = md.GetFieldMD(qvt_FieldHandle("absent"));
  EXPECT_EQ(none.Name(), "novalue");
  EXPECT_EQ(none.Type(), qvt_TypeNone);
  EXPECT_EQ(none.Index(), -1);
  EXPECT_EQ(none.Present(), 1);
  EXPECT_EQ(md.GetFieldMD(qvt_FieldHandle(5)).Name(), "novalue");
}

TEST_F(TableMetadataTest, DuplicateDefinitionChangesNothing) {
  qvt_TableMetadata md("T", 1);
  EXPECT_EQ(md.DefineIntField("a"), 0);
  QVT_EXPECT_THROW_TEXT(md.DefineDoubleField("a"), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"a\"");
  EXPECT_EQ(md.FieldCount(), 1);
  EXPECT_EQ(md.GetFieldMD(qvt_FieldHandle("a")).Type(), qvt_TypeInt);
  EXPECT_EQ(md.DefineFloatField("b"), 1);
}

TEST_F(TableMetadataTest, CopyAllowedAnswers) {
  qvt_TableMetadata intString("A", 1);
  intString.DefineIntField("i");
  intString.DefineStringField("s");
  qvt_TableMetadata sameIntString("B", 1);
  sameIntString.DefineStringField("s");
  sameIntString.DefineIntField("i");
  EXPECT_EQ(intString.CopyAllowed(sameIntString), 2);

  qvt_TableMetadata oneInt("C", 1);
  oneInt.DefineIntField("i");
  qvt_TableMetadata intAndMore("D", 1);
  intAndMore.DefineIntField("i");
  intAndMore.DefineDoubleField("d");
  EXPECT_EQ(oneInt.CopyAllowed(intAndMore), 3);
  EXPECT_EQ(intAndMore.CopyAllowed(oneInt), 0);
  EXPECT_EQ(oneInt.CopyAllowed(oneInt), 1);

  qvt_TableMetadata otherType("E", 1);
  otherType.DefineFloatField("i");
  EXPECT_EQ(oneInt.CopyAllowed(otherType), 0);

  qvt_TableMetadata withHandle("F", 1);
  withHandle.DefineHandleField("h");
  EXPECT_EQ(withHandle.CopyAllowed(withHandle), 0);
}

TEST_F(TableMetadataTest, FieldKnownButNotStoredInTheOtherShapeForbidsCopying) {
  qvt_TableMetadata stored("S", 1);
  stored.DefineDoubleField("d");
  Store(stored);
  qvt_TableMetadata wanted("S", 1);
  wanted.DefineIntField("i");
  wanted.DefineDoubleField("d");
  const qvt_TableMetadata merged(m_Stream, wanted.FieldMap(), 1);  // i absent

  qvt_TableMetadata both("T", 1);
  both.DefineIntField("i");
  both.DefineDoubleField("d");
  EXPECT_EQ(both.CopyAllowed(merged), 0);
  EXPECT_EQ(merged.CopyAllowed(both), 3);
}

TEST_F(TableMetadataTest, RecordWithImpossibleLengthIsCorrupt) {
  for (int length : {0, -12, 11, 13, 23}) {
    m_Stream.Bytes().clear();
    m_Stream.Seek(0);
    m_Stream.WriteInt(length);
    m_Stream.WriteString("T");
    m_Stream.Seek(0);
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, 1), nex_TextException,
                          "***ERROR: Metadata is corrupt in KELVOR database file.");
  }
}

TEST_F(TableMetadataTest, UnknownTypeCodeMarksTheRecordCorrupt) {
  for (int code : {5, 11, -1, 0x7FFFFFFF}) {
    m_Stream.Bytes().clear();
    m_Stream.Seek(0);
    m_Stream.WriteInt(24);
    m_Stream.WriteString("T");
    m_Stream.WriteInt(code);
    m_Stream.WriteString("a");
    m_Stream.Seek(0);
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, 1), nex_TextException,
                          "***ERROR: Metadata is corrupt in KELVOR database file.");
  }
  // Known codes that rows cannot hold are read; tables refuse them.
  m_Stream.Bytes().clear();
  m_Stream.Seek(0);
  m_Stream.WriteInt(24);
  m_Stream.WriteString("T");
  m_Stream.WriteInt(qvt_TypeTaggedStream);
  m_Stream.WriteString("a");
  m_Stream.Seek(0);
  EXPECT_EQ(qvt_TableMetadata(m_Stream, 1).GetFieldMD(qvt_FieldHandle("a")).Type(), qvt_TypeTaggedStream);
}

TEST_F(TableMetadataTest, RecordNamingAFieldTwiceIsRefused) {
  m_Stream.WriteInt(36);
  m_Stream.WriteString("T");
  m_Stream.WriteInt(qvt_TypeInt);
  m_Stream.WriteString("a");
  m_Stream.WriteInt(qvt_TypeFloat);
  m_Stream.WriteString("a");
  m_Stream.Seek(0);
  QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(m_Stream, 1), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"a\"");
}

TEST_F(TableMetadataTest, TruncatedRecordEndsAtEndOfFile) {
  qvt_TableMetadata md("T", 1);
  md.DefineIntField("a");
  md.DefineIntField("b");
  Store(md);
  const std::size_t full = m_Stream.Bytes().size();
  for (std::size_t cut = 0; cut < full; ++cut) {
    OffsetMemoryStream shorter;
    shorter.Pool() = m_Stream.Pool();
    shorter.Bytes().assign(m_Stream.Bytes().begin(), m_Stream.Bytes().begin() + static_cast<long>(cut));
    bool threw = false;
    try {
      qvt_TableMetadata back(shorter, 1);
    } catch (const nex_TextException& e) {
      threw = true;
      EXPECT_TRUE(e.AsString() == "***ERROR: Unexpected End Of File." ||
                  e.AsString() == "***ERROR: Metadata is corrupt in KELVOR database file.")
          << "cut at " << cut << ": " << e.AsString();
    }
    EXPECT_TRUE(threw) << "cut at " << cut;
  }
}

TEST_F(TableMetadataTest, NaturalOrderPutsNumberedFieldsInNumericOrder) {
  {
    NaturalOrderGuard natural(true);
    qvt_TableMetadata md("T", 1);
    md.DefineIntField("f10");
    md.DefineIntField("f2");
    EXPECT_EQ(md.FieldMap().begin()->first, "f2");
  }
  qvt_TableMetadata md("T", 1);
  md.DefineIntField("f10");
  md.DefineIntField("f2");
  EXPECT_EQ(md.FieldMap().begin()->first, "f10");
}

TEST_F(TableMetadataTest, CopiesAndAssignmentKeepIndexLookups) {
  qvt_TableMetadata md("T", 3);
  md.DefineIntField("z");
  md.DefineIntField("a");
  qvt_TableMetadata other("U", 1);
  other = md;
  EXPECT_EQ(other.Name(), "T");
  EXPECT_EQ(other.ClassVersion(), 3);
  EXPECT_EQ(other.GetFieldMD(qvt_FieldHandle(0)).Name(), "z");
  EXPECT_EQ(&other.GetFieldMD(qvt_FieldHandle(1)), &other.GetFieldMD(qvt_FieldHandle("a")));
  const qvt_TableMetadata versioned(md, 9);
  EXPECT_EQ(versioned.ClassVersion(), 9);
  EXPECT_EQ(versioned.GetFieldMD(qvt_FieldHandle(1)).Name(), "a");
}

TEST(FieldHandleTest, FourConstructors) {
  const qvt_FieldHandle byIndex(3);
  EXPECT_EQ(byIndex.Index(), 3);
  EXPECT_EQ(byIndex.Name(), "");
  const qvt_FieldHandle named(cow_String("abc"), -1);
  EXPECT_EQ(named.Name(), "abc");
  EXPECT_FALSE(named.ByIndex());
  const qvt_FieldHandle cNamed("xyz", 2);
  EXPECT_EQ(cNamed.Name(), "xyz");
  EXPECT_TRUE(cNamed.ByIndex());
  const qvt_FieldHandle joined(cow_String("stress_"), "11", -1);
  EXPECT_EQ(joined.Name(), "stress_11");
  const qvt_FieldHandle nullName(static_cast<const char*>(nullptr), -1);
  EXPECT_EQ(nullName.Name(), "");
}

}  // namespace
