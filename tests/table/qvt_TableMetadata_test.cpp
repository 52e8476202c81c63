// Table class shapes: damaged records, lookups of absent fields, natural
// order, copies and field handles. The record's bytes, indices and merging
// read are checked through the metadata pool of a database.
#include "qvt_TableMetadata.h"

#include "nex_Exception.h"
#include "qvt_MemoryIOS.h"
#include "qvt_ObjectShapes.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

// The type and lookup refusals of Verify are checked through rows; here an
// index wins over a name, an absent field answers a placeholder, and a
// duplicate definition changes nothing; then natural order, copies and
// field handles.
TEST(TableMetadataTest, LookupsDuplicatesNaturalOrderCopiesAndFieldHandles) {
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
  for (const bool natural : {true, false}) {
    atr_setNaturalOrder(natural);
    const qvt_TableMetadata ordered = Shape("T", {{"f10", qvt_TypeInt}, {"f2", qvt_TypeInt}});
    atr_setNaturalOrder(false);
    EXPECT_EQ(ordered.FieldMap().begin()->first, natural ? "f2" : "f10");
  }
  const qvt_TableMetadata shape = Shape("T", {{"z", qvt_TypeInt}, {"a", qvt_TypeInt}}, 3);
  qvt_TableMetadata other("U", 1);
  other = shape;
  EXPECT_EQ(other.Name(), "T");
  EXPECT_EQ(other.ClassVersion(), 3);
  EXPECT_EQ(other.GetFieldMD(qvt_FieldHandle(0)).Name(), "z");
  EXPECT_EQ(&other.GetFieldMD(qvt_FieldHandle(1)), &other.GetFieldMD(qvt_FieldHandle("a")));
  const qvt_TableMetadata copied(shape);
  EXPECT_EQ(&copied.GetFieldMD(qvt_FieldHandle(1)), &copied.GetFieldMD(qvt_FieldHandle("a")));
  EXPECT_EQ(qvt_FieldHandle(cow_String("stress_"), "11", -1).Name(), "stress_11");
  EXPECT_EQ(qvt_FieldHandle(static_cast<const char*>(nullptr), -1).Name(), "");
}

TEST(TableMetadataTest, DamagedRecordsAreRefused) {
  MemoryIOS stream;
  for (int length : {0, -12, 11, 13, 23}) {
    StoreRawRecord(stream, "T", length, {});
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(stream, 1), nex_TextException, kMetadataCorrupt);
  }
  for (int code : {5, 11, -1, 0x7FFFFFFF}) {
    StoreRawRecord(stream, "T", 24, {{code, "a"}});
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(stream, 1), nex_TextException, kMetadataCorrupt);
  }
  StoreRawRecord(stream, "T", 36, {{qvt_TypeInt, "a"}, {qvt_TypeFloat, "a"}});
  QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(stream, 1), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"a\"");
  // Known codes that rows cannot hold are read; tables refuse them.
  StoreRawRecord(stream, "T", 24, {{qvt_TypeTaggedStream, "a"}});
  EXPECT_EQ(qvt_TableMetadata(stream, 1).GetFieldMD(qvt_FieldHandle("a")).Type(), qvt_TypeTaggedStream);
  // Cut short anywhere, a record ends the file or is corrupt.
  MemoryIOS whole;
  Shape("T", {{"a", qvt_TypeInt}, {"b", qvt_TypeInt}}).WriteTo(whole);
  const std::size_t full = whole.Bytes().size();
  for (std::size_t cut = 0; cut < full; ++cut) {
    MemoryIOS shorter;
    shorter.Pool() = whole.Pool();
    shorter.Bytes().assign(whole.Bytes().begin(), whole.Bytes().begin() + static_cast<long>(cut));
    std::string text = "no exception";
    try {
      qvt_TableMetadata back(shorter, 1);
    } catch (const nex_TextException& e) {
      text = e.AsString();
    }
    EXPECT_TRUE(text == kEof || text == kMetadataCorrupt) << "cut at " << cut << ": " << text;
  }
}

}  // namespace
