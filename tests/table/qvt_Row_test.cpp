// Rows: typed reads and writes of every field type, presence, Erase,
// CopyField and NeuterFieldString, handle counting, the refusals of
// read-only databases; and appending tables: block copy of identical
// layouts, row by row for compatible ones with strings pooled again.
#include <cmath>
#include <functional>
#include <limits>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

class RowTest : public DatabaseKindTest {};

// Extreme values of every type, read by index while written and by name
// after reopening; a pooled string neutered in place keeps its old length;
// a reader refuses every change.
TEST_P(RowTest, EveryTypeReadsBackAsWrittenAndReadersRefuseChanges) {
  const std::string text("nul\0inside", 10);
  {
    qvt_Database db = CreateDb();
    qvt_Table table = db.Table(AllFieldTypes("All"), 0, -1);
    qvt_Row row = table.NewRow();
    row.WriteFieldInt("i", std::numeric_limits<int>::min());
    row.WriteFieldHandle("h", 0xFFFFFFFFu);
    row.WriteFieldFloat("f", -0.15625f);
    row.WriteFieldDouble("d", std::nextafter(1.0, 2.0));
    row.WriteFieldString("s", text);
    EXPECT_EQ(row.ReadFieldHandle(1), 0xFFFFFFFFu);
    EXPECT_EQ(row.ReadFieldString(4), text);
    qvt_Row neutered = table.NewRow();
    neutered.WriteFieldString("s", "secret");
    QVT_EXPECT_THROW_TEXT(neutered.NeuterFieldString("d", "x"), nex_TextException,
                          "***ERROR: Field type mismatch: \"d\"");
    neutered.NeuterFieldString("s", "longer than before");
    QVT_EXPECT_THROW_TEXT(table.NewRow().NeuterFieldString("s", "x"), nex_TextException,
                          "qvt_RowImpl::PrepReadField: Attempt to access absent field data in ODB/CAE file "
                          "(All:s). File may be unreadable.");
  }
  qvt_Database reader = OpenDb();
  reader.Bind();
  qvt_Table table = reader.Table(qvt_Handle(4), 0, -1);
  qvt_Row row = table.ReadRow(0);
  EXPECT_EQ(row.ReadFieldInt("i"), std::numeric_limits<int>::min());
  EXPECT_EQ(row.ReadFieldHandle("h"), 0xFFFFFFFFu);
  EXPECT_EQ(row.ReadFieldFloat("f"), -0.15625f);
  EXPECT_EQ(row.ReadFieldDouble("d"), std::nextafter(1.0, 2.0));
  EXPECT_EQ(row.ReadFieldString("s"), text);
  EXPECT_EQ(row.Location(), 0);
  EXPECT_EQ(row.FieldMetadataMap().size(), 5u);
  EXPECT_EQ(table.ReadRow(1).ReadFieldString("s"), "longer");
  const char* readOnly =
      "The output database was opened as read-only. Modification of data is not permitted.";
  QVT_EXPECT_THROW_TEXT(row.WriteFieldInt("i", 2), nex_TextException, readOnly);
  QVT_EXPECT_THROW_TEXT(row.Erase("i"), nex_TextException, readOnly);
  QVT_EXPECT_THROW_TEXT(row.Erase(), nex_TextException, readOnly);
  QVT_EXPECT_THROW_TEXT(table.NewRow(), nex_TextException, readOnly);
  QVT_EXPECT_THROW_TEXT(table.UpdateRow(0), nex_TextException, readOnly);
  QVT_EXPECT_THROW_TEXT(table.Truncate(0), nex_TextException,
                        "***ERROR: Attempt to truncate read only table.");
  EXPECT_EQ(row.ReadFieldInt("i"), std::numeric_limits<int>::min());
  EXPECT_EQ(table.Length(), 3);
  EXPECT_EQ(table.Flush(), table.GetFlushCount());
  table.Extend(10);  // nothing on a reader
}

// Absent data names table and field; Erase removes data, not the field; a
// wrong type is refused before anything is stored; unknown fields are named.
TEST_P(RowTest, AbsentDataErasedDataAndWrongTypesAreRefused) {
  qvt_Database db = CreateDb();
  qvt_Table table = db.Table(AllFieldTypes("New"), 0, -1);
  qvt_Row row = table.NewRow();
  const std::string absent =
      "qvt_RowImpl::PrepReadField: Attempt to access absent field data in ODB/CAE file (New:";
  QVT_EXPECT_THROW_TEXT(row.ReadFieldDouble("d"), nex_TextException, absent + "d). File may be unreadable.");
  QVT_EXPECT_THROW_TEXT(row.ReadFieldString(4), nex_TextException, absent + "). File may be unreadable.");
  row.WriteFieldInt("i", 7);
  row.WriteFieldDouble("d", 1.0);
  row.WriteFieldFloat("f", 2.5f);
  EXPECT_EQ(row.DataIsPresent("i"), 1);
  row.Erase("i");
  EXPECT_EQ(row.DataIsPresent("i"), 0);
  EXPECT_EQ(row.FieldIsPresent("i"), 1);
  EXPECT_EQ(row.DataIsPresent("d"), 1);
  const std::pair<std::function<void()>, std::string> refusals[] = {
      {[&] { row.WriteFieldInt("f", 99); }, "Field type mismatch: \"f\""},
      {[&] { row.WriteFieldInt(2, 99); }, "Field type mismatch by index: 2"},
      {[&] { row.ReadFieldDouble("f"); }, "Field type mismatch: \"f\""},
      {[&] { row.WriteFieldString("none", "x"); }, "Can't find field: \"none\""},
      {[&] { row.Erase("nothing"); }, "Can't find field: \"nothing\""},
      {[&] { row.Erase(9); }, "Can't find field by index: 9"},
  };
  for (const auto& r : refusals) QVT_EXPECT_THROW_TEXT(r.first(), nex_TextException, "***ERROR: " + r.second);
  EXPECT_EQ(row.ReadFieldFloat("f"), 2.5f);
  EXPECT_EQ(row.FieldIsPresent("nothing"), 0);
  EXPECT_EQ(row.DataIsPresent(9), 0);
  row.Erase();
  EXPECT_EQ(row.DataIsPresent("d"), 0);
  EXPECT_EQ(row.DataIsPresent("f"), 0);
}

// Each type is copied within a database and into another one (whose pool
// takes the string again); absent data copies nothing and marks nothing
// modified; handles are refused.
TEST_P(RowTest, CopyFieldCopiesEachTypeAndRefusesHandles) {
  qvt_Database first = CreateDb("first.odb");
  qvt_Database second = CreateDb("second.odb");
  {
    qvt_Table from = first.Table(AllFieldTypes("From"), 0, -1);
    qvt_Row source = from.NewRow();
    source.WriteFieldInt("i", -3);
    source.WriteFieldFloat("f", 0.5f);
    source.WriteFieldDouble("d", 1e300);
    source.WriteFieldString("s", "travelling text");
    source.WriteFieldHandle("h", 17);
    qvt_Row blank = from.NewRow();
    qvt_Table near = first.Table(AllFieldTypes("To"), 0, -1);
    qvt_Table far = second.Table(AllFieldTypes("To"), 0, -1);
    for (qvt_Table* to : {&near, &far}) {
      qvt_Row target = to->NewRow();
      for (const char* name : {"i", "f", "d", "s"}) target.CopyField(source, name);
      EXPECT_EQ(target.ReadFieldInt("i"), -3);
      EXPECT_EQ(target.ReadFieldFloat("f"), 0.5f);
      EXPECT_EQ(target.ReadFieldDouble("d"), 1e300);
      EXPECT_EQ(target.ReadFieldString("s"), "travelling text");
      QVT_EXPECT_THROW_TEXT(target.CopyField(source, "h"), nex_TextException,
                            "qvt_RowImpl::CopyField: Attempt to copy handle type field..  No can do.");
      EXPECT_EQ(target.DataIsPresent("h"), 0);
      const int flushes = to->Flush();
      target.CopyField(blank, "i");
      EXPECT_EQ(target.ReadFieldInt("i"), -3);
      EXPECT_EQ(to->Flush(), flushes);  // the row was not marked modified
    }
  }
  second.Flush();
  first.Flush();
  qvt_Database reader = OpenDb("second.odb");
  reader.Bind();
  EXPECT_EQ(reader.Table(qvt_Handle(4), 0, -1).ReadRow(0).ReadFieldString("s"), "travelling text");
}

// Rows held by handles stay in the cache while other rows come and go, and
// outlive their table only as refusals (the table flushed them).
TEST_P(RowTest, HandlesShareOneRow) {
  qvt_Database db = CreateDb();
  qvt_Row a, b, c;
  {
    qvt_Table table = db.Table(AllFieldTypes("All"), 0, 1);
    a = table.NewRow();
    b = qvt_Row(a);
    b.WriteFieldInt("i", 5);
    EXPECT_EQ(a.ReadFieldInt("i"), 5);
    c = a;
    c = c;  // assignment to itself changes nothing
    a.Nullify();
    a.Nullify();  // releasing nothing is harmless
    QVT_EXPECT_THROW_TEXT(a.ReadFieldInt("i"), nex_TextException,
                          "qvt_Row: The row handle does not refer to a row.");
    QVT_EXPECT_THROW_TEXT(a.DataIsPresent("i"), nex_TextException,
                          "qvt_Row: The row handle does not refer to a row.");
    for (int k = 0; k < 20; ++k) table.NewRow().WriteFieldInt("i", k);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(table.ReadRow(k + 1).ReadFieldInt("i"), k);
    EXPECT_EQ(c.ReadFieldInt("i"), 5);
    b = table.ReadRow(3);
    EXPECT_EQ(b.Location(), 3);
    EXPECT_EQ(c.Location(), 0);
  }
  const char gone[] =
      "qvt_Row: The row no longer exists in table 'All': it was truncated away or its table was closed.";
  QVT_EXPECT_THROW_TEXT(c.ReadFieldInt("i"), nex_TextException, gone);
  QVT_EXPECT_THROW_TEXT(b.Erase(), nex_TextException, gone);
  EXPECT_EQ(db.Table(qvt_Handle(4), 0, -1).ReadRow(0).ReadFieldInt("i"), 5);
}

qvt_TableMetadata Plain(const std::string& name) {
  qvt_TableMetadata md(name, 1);
  md.DefineIntField("n");
  md.DefineDoubleField("v");
  return md;
}

qvt_TableMetadata WithText(const std::string& name, bool extra) {
  qvt_TableMetadata md(name, 1);
  md.DefineStringField("label");
  md.DefineIntField("n");
  if (extra) {
    md.DefineFloatField("w");
    md.DefineDoubleField("v");
  }
  return md;
}

TEST_P(RowTest, IdenticalLayoutsAppendByBlockCopy) {
  qvt_Database db = CreateDb();
  qvt_Table to = db.Table(Plain("To"), 0, -1);
  qvt_Table from = db.Table(Plain("From"), 0, -1);
  for (int i = 0; i < 3; ++i) to.NewRow().WriteFieldInt("n", i);
  for (int i = 0; i < 500; ++i) {
    qvt_Row row = from.NewRow();
    row.WriteFieldInt("n", 1000 + i);
    if (i % 3) row.WriteFieldDouble("v", i * 0.5);
  }
  ASSERT_EQ(to.CopyAllowed(from), 1);
  to.Append(from);
  EXPECT_EQ(to.Length(), 503);
  EXPECT_EQ(from.Length(), 500);
  for (int i = 0; i < 500; ++i) {
    qvt_Row row = to.ReadRow(3 + i);
    ASSERT_EQ(row.ReadFieldInt("n"), 1000 + i);
    ASSERT_EQ(row.DataIsPresent("v"), i % 3 ? 1 : 0);
    if (i % 3) {
      ASSERT_EQ(row.ReadFieldDouble("v"), i * 0.5);
    }
  }
  to.NewRow().WriteFieldInt("n", -1);  // rows keep coming after the copy
  EXPECT_EQ(to.Flush(), 2);
  db.Flush();
  qvt_Database reader = OpenDb();
  reader.Bind();
  qvt_Table back = reader.Table(to.Handle(), 0, -1);
  ASSERT_EQ(back.Length(), 504);
  EXPECT_EQ(back.ReadRow(502).ReadFieldInt("n"), 1499);
  EXPECT_EQ(back.ReadRow(503).ReadFieldInt("n"), -1);
}

// Row by row into another database: fields the receiver lacks are left
// out, strings are pooled again there (new ones and one it already holds),
// absent data stays absent.
TEST_P(RowTest, CompatibleLayoutsAppendRowByRowIntoAnotherDatabase) {
  qvt_Database source = CreateDb("source.odb");
  qvt_Database target = CreateDb("target.odb");
  {
    qvt_Table wide = source.Table(WithText("Wide", true), 0, -1);
    qvt_Table same = source.Table(WithText("Narrow", false), 0, -1);
    for (int i = 0; i < 300; ++i) {
      const std::string label = i % 2 ? "shared" : "label " + std::to_string(i);
      for (qvt_Table* from : {&wide, &same}) {
        qvt_Row row = from->NewRow();
        row.WriteFieldString("label", label);
        row.WriteFieldInt("n", i);
        if (from == &wide) row.WriteFieldDouble("v", 2.0);
        if (i % 5 == 0) row.Erase("label");
      }
    }
    qvt_Table to = target.Table(WithText("Narrow", false), 0, 3);
    to.NewRow().WriteFieldString("label", "shared");
    ASSERT_EQ((std::vector<int>{to.CopyAllowed(wide), wide.CopyAllowed(to), to.CopyAllowed(same)}),
              (std::vector<int>{3, 0, 2}));
    QVT_EXPECT_THROW_TEXT(wide.Append(to), nex_TextException,
                          "qvt_TableRepr::Append - table being appended to "
                          "\"Wide\" does not have compatible metadata.");
    to.Append(wide);
    to.Append(same);
    EXPECT_EQ(to.Length(), 601);
    EXPECT_EQ(to.ReadRow(1 + 7).ReadFieldString("label"), "shared");
  }
  target.Flush();
  source.Flush();
  qvt_Database reader = OpenDb("target.odb");
  reader.Bind();
  qvt_Table back = reader.Table(qvt_Handle(4), 0, -1);
  ASSERT_EQ(back.Length(), 601);
  EXPECT_EQ(back.RowSize(), 4 + 8 + 4);
  for (int i = 0; i < 600; ++i) {
    qvt_Row row = back.ReadRow(1 + i);
    ASSERT_EQ(row.ReadFieldInt("n"), i % 300);
    if (i % 5 == 0) {
      ASSERT_EQ(row.DataIsPresent("label"), 0);
    } else {
      ASSERT_EQ(row.ReadFieldString("label"),
                i % 2 ? std::string("shared") : "label " + std::to_string(i % 300));
    }
  }
}

// A table appended to itself doubles once; empty sources append nothing;
// handles, and read-only tables, are refused.
TEST_P(RowTest, SelfAppendsRefusalsAndEmptySources) {
  {
    qvt_Database db = CreateDb();
    qvt_Table plain = db.Table(Plain("P"), 0, -1);
    qvt_Table text = db.Table(WithText("S", false), 0, -1);
    qvt_Table empty = db.Table(Plain("Empty"), 0, -1);
    for (int i = 0; i < 100; ++i) {
      plain.NewRow().WriteFieldInt("n", i);
      text.NewRow().WriteFieldString("label", std::to_string(i));
    }
    plain.Append(empty);
    plain.Append(plain);
    text.Append(text);
    ASSERT_EQ((std::vector<int>{plain.Length(), text.Length()}), (std::vector<int>{200, 200}));
    EXPECT_EQ(plain.ReadRow(150).ReadFieldInt("n"), 50);
    EXPECT_EQ(text.ReadRow(199).ReadFieldString("label"), "99");
    qvt_TableMetadata handles("H", 1);
    handles.DefineHandleField("h");
    qvt_Table withHandle = db.Table(handles, 0, -1);
    withHandle.NewRow().WriteFieldHandle("h", 5);
    QVT_EXPECT_THROW_TEXT(withHandle.Append(withHandle), nex_TextException,
                          "qvt_TableRepr::Append - table being appended to \"H\" does not have compatible "
                          "metadata.");
  }
  qvt_Database db = OpenDb();
  db.Bind();
  qvt_Table to = db.Table(qvt_Handle(4), 0, -1);
  QVT_EXPECT_THROW_TEXT(to.Append(to), nex_TextException,
                        "qvt_TableRepr::Append - Attempt to append to read only table.");
  qvt_Table empty = db.Table(qvt_Handle(6), 0, -1);
  to.Append(empty);  // nothing to append: no refusal
  EXPECT_EQ(to.Length(), 200);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RowTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
