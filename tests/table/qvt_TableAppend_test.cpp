// Appending tables: block copy of identical layouts, row by row for
// compatible ones with strings pooled again in the destination database,
// and the refusals.
#include <gtest/gtest.h>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::DatabaseKindTest;

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

class TableAppendTest : public DatabaseKindTest {};

TEST_P(TableAppendTest, IdenticalLayoutsAppendByBlockCopy) {
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
TEST_P(TableAppendTest, CompatibleLayoutsAppendRowByRowIntoAnotherDatabase) {
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
    QVT_EXPECT_THROW_TEXT(wide.Append(to), nex_TextException, "qvt_TableRepr::Append - table being appended to "
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
      ASSERT_EQ(row.ReadFieldString("label"), i % 2 ? std::string("shared") : "label " + std::to_string(i % 300));
    }
  }
}

// A table appended to itself doubles once; empty sources append nothing;
// handles, and read-only tables, are refused.
TEST_P(TableAppendTest, SelfAppendsRefusalsAndEmptySources) {
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
  QVT_EXPECT_THROW_TEXT(to.Append(to), nex_TextException, "qvt_TableRepr::Append - Attempt to append to read only table.");
  qvt_Table empty = db.Table(qvt_Handle(6), 0, -1);
  to.Append(empty);  // nothing to append: no refusal
  EXPECT_EQ(to.Length(), 200);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TableAppendTest, ::testing::ValuesIn(qvt_test::AllFileKinds()),
                         qvt_test::KindParamName);

}  // namespace
