// Rows of every field type, row handles, appending tables, and a seeded model of rows.
#include <cmath>
#include <limits>
#include <random>

#include "qvt_ObjectShapes.h"
#include "qvt_TablesFixture.h"

namespace {

using namespace qvt_test;

class RowTest : public DatabaseKindTest {};

// The extreme values written below but the handle, read by name.
void ExpectExtremes(qvt_Row& row, const std::string& text) {
  EXPECT_EQ(row.ReadFieldInt("i"), std::numeric_limits<int>::min());
  EXPECT_EQ(row.ReadFieldFloat("f"), -0.15625f);
  EXPECT_EQ(row.ReadFieldDouble("d"), std::nextafter(1.0, 2.0));
  EXPECT_EQ(row.ReadFieldString("s"), text);
}

// Refusals store nothing; Erase removes data, not fields; a neutered string keeps its length.
TEST_P(RowTest, EveryTypeReadsBackAsWrittenAndCopiedAndEveryMisuseIsRefused) {
  const std::string text("nul\0inside", 10);
  const std::string absent =
      "qvt_RowImpl::PrepReadField: Attempt to access absent field data in ODB/CAE file (All:";
  {
    qvt_Database db = CreateDb();
    qvt_Database second = CreateDb("second.odb");
    qvt_Table table = db.Table(AllFieldTypes("All"), 0, -1);
    qvt_Row row = table.NewRow();
    row.WriteFieldInt("i", std::numeric_limits<int>::min());
    row.WriteFieldHandle("h", 0xFFFFFFFFu);
    row.WriteFieldFloat("f", -0.15625f);
    row.WriteFieldDouble("d", std::nextafter(1.0, 2.0));
    row.WriteFieldString("s", text);
    EXPECT_EQ(row.ReadFieldHandle(1), 0xFFFFFFFFu);
    EXPECT_EQ(row.ReadFieldString(4), text);
    qvt_Row other = table.NewRow();
    ExpectRefusals({
        {[&] { other.ReadFieldDouble("d"); }, absent + "d). File may be unreadable."},
        {[&] { other.ReadFieldString(4); }, absent + "). File may be unreadable."},
        {[&] { other.NeuterFieldString("s", "x"); }, absent + "s). File may be unreadable."},
        {[&] { row.WriteFieldInt("f", 99); }, "***ERROR: Field type mismatch: \"f\""},
        {[&] { row.WriteFieldInt(2, 99); }, "***ERROR: Field type mismatch by index: 2"},
        {[&] { row.ReadFieldDouble("f"); }, "***ERROR: Field type mismatch: \"f\""},
        {[&] { row.NeuterFieldString("d", "x"); }, "***ERROR: Field type mismatch: \"d\""},
        {[&] { row.WriteFieldString("none", "x"); }, "***ERROR: Can't find field: \"none\""},
        {[&] { row.Erase("nothing"); }, "***ERROR: Can't find field: \"nothing\""},
        {[&] { row.Erase(9); }, "***ERROR: Can't find field by index: 9"},
    });
    EXPECT_EQ((std::vector<int>{row.FieldIsPresent("nothing"), row.DataIsPresent(9)}),
              (std::vector<int>{0, 0}));
    other.WriteFieldInt("i", 7);
    other.WriteFieldDouble("d", 1.0);
    other.Erase("i");
    EXPECT_EQ(
        (std::vector<int>{other.DataIsPresent("i"), other.FieldIsPresent("i"), other.DataIsPresent("d")}),
        (std::vector<int>{0, 1, 1}));
    other.Erase();
    EXPECT_EQ(other.DataIsPresent("d"), 0);
    // Copied here and into another pool; absent data copies nothing and modifies nothing.
    qvt_Table near = db.Table(AllFieldTypes("To"), 0, -1);
    qvt_Table far = second.Table(AllFieldTypes("To"), 0, -1);
    for (qvt_Table* to : {&near, &far}) {
      qvt_Row target = to->NewRow();
      for (const char* name : {"i", "f", "d", "s"}) target.CopyField(row, name);
      ExpectExtremes(target, text);
      QVT_EXPECT_THROW_TEXT(target.CopyField(row, "h"), nex_TextException,
                            "qvt_RowImpl::CopyField: Attempt to copy handle type field..  No can do.");
      const int flushes = to->Flush();
      target.CopyField(other, "i");
      EXPECT_EQ((std::vector<int>{target.DataIsPresent("h"), target.DataIsPresent("i"), to->Flush()}),
                (std::vector<int>{0, 1, flushes}));
    }
    qvt_Row neutered = table.NewRow();
    neutered.WriteFieldString("s", "secret");
    neutered.NeuterFieldString("s", "longer than before");
  }
  qvt_Database reader = OpenDb();
  reader.Bind();
  qvt_Table table = reader.Table(qvt_Handle(4), 0, -1);
  qvt_Row row = table.ReadRow(0);
  ExpectExtremes(row, text);
  EXPECT_EQ(row.ReadFieldHandle("h"), 0xFFFFFFFFu);
  EXPECT_EQ((std::vector<int>{row.Location(), static_cast<int>(row.FieldMetadataMap().size())}),
            (std::vector<int>{0, 5}));
  EXPECT_EQ(table.ReadRow(2).ReadFieldString("s"), "longer");
  ExpectRefusals({
      {[&] { row.WriteFieldInt("i", 2); }, kReadOnly},
      {[&] { row.Erase("i"); }, kReadOnly},
      {[&] { row.Erase(); }, kReadOnly},
      {[&] { table.NewRow(); }, kReadOnly},
      {[&] { table.UpdateRow(0); }, kReadOnly},
      {[&] { table.Truncate(0); }, "***ERROR: Attempt to truncate read only table."},
  });
  EXPECT_EQ((std::vector<int>{row.ReadFieldInt("i"), table.Length()}),
            (std::vector<int>{std::numeric_limits<int>::min(), 3}));
  EXPECT_EQ(table.Flush(), table.GetFlushCount());
  table.Extend(10);  // nothing on a reader
}

// Held rows stay cached while others come and go; past their table, refused.
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
    c = c;                                                // changes nothing
    for (int twice = 0; twice < 2; ++twice) a.Nullify();  // releasing nothing is harmless
    const char* none = "qvt_Row: The row handle does not refer to a row.";
    ExpectRefusals({{[&] { a.ReadFieldInt("i"); }, none}, {[&] { a.DataIsPresent("i"); }, none}});
    for (int k = 0; k < 20; ++k) table.NewRow().WriteFieldInt("i", k);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(table.ReadRow(k + 1).ReadFieldInt("i"), k);
    EXPECT_EQ(c.ReadFieldInt("i"), 5);
    b = table.ReadRow(3);
    EXPECT_EQ((std::vector<int>{b.Location(), c.Location()}), (std::vector<int>{3, 0}));
  }
  const char gone[] =
      "qvt_Row: The row no longer exists in table 'All': it was truncated away or its table was closed.";
  ExpectRefusals({{[&] { c.ReadFieldInt("i"); }, gone}, {[&] { b.Erase(); }, gone}});
  EXPECT_EQ(db.Table(qvt_Handle(4), 0, -1).ReadRow(0).ReadFieldInt("i"), 5);
}

qvt_TableMetadata Plain(const std::string& name) {
  return Shape(name, {{"n", qvt_TypeInt}, {"v", qvt_TypeDouble}});
}

// The extra area sorts first, so the two shapes share no common prefix.
qvt_TableMetadata WithText(const std::string& name, bool extra) {
  std::vector<std::pair<std::string, int>> fields = {{"label", qvt_TypeString}, {"n", qvt_TypeInt}};
  if (extra) fields.insert(fields.end(), {{"area", qvt_TypeFloat}, {"v", qvt_TypeDouble}});
  return Shape(name, fields);
}

// Identical layouts copy by block, compatible ones row by row, strings pooled again.
TEST_P(RowTest, AppendCopiesBlocksOrRowsAndRefusesWhatItCannot) {
  {
    qvt_Database source = CreateDb("source.odb");
    qvt_Database target = CreateDb("target.odb");
    qvt_Table to = source.Table(Plain("To"), 0, -1);
    qvt_Table from = source.Table(Plain("From"), 0, -1);
    qvt_Table empty = source.Table(Plain("Empty"), 0, -1);
    for (int i = 0; i < 3; ++i) to.NewRow().WriteFieldInt("n", i);
    for (int i = 0; i < 500; ++i) {
      qvt_Row row = from.NewRow();
      row.WriteFieldInt("n", 1000 + i);
      if (i % 3) row.WriteFieldDouble("v", i * 0.5);
    }
    ASSERT_EQ(to.CopyAllowed(from), 1);
    for (qvt_Table* other : {&empty, &from, &to}) to.Append(*other);
    ASSERT_EQ((std::vector<int>{to.Length(), from.Length()}), (std::vector<int>{1006, 500}));
    for (int i = 0; i < 1006; ++i) {
      const int k = i % 503 - 3;  // the row of from, or before them, a row of to
      qvt_Row row = to.ReadRow(i);
      ASSERT_EQ(row.ReadFieldInt("n"), k < 0 ? k + 3 : 1000 + k) << i;
      ASSERT_EQ(row.DataIsPresent("v") ? row.ReadFieldDouble("v") : -1, k >= 0 && k % 3 ? k * 0.5 : -1) << i;
    }
    to.NewRow().WriteFieldInt("n", -1);
    qvt_Table wide = source.Table(WithText("Wide", true), 0, -1);
    qvt_Table same = source.Table(WithText("Narrow", false), 0, -1);
    for (int i = 0; i < 300; ++i) {
      const std::string label = i % 2 ? "shared" : "label " + std::to_string(i);
      for (qvt_Table* t : {&wide, &same}) {
        qvt_Row row = t->NewRow();
        row.WriteFieldString("label", label);
        row.WriteFieldInt("n", i);
        if (t == &wide) row.WriteFieldDouble("v", 2.0);
        if (i % 5 == 0) row.Erase("label");
      }
    }
    same.Append(same);
    qvt_Table text = target.Table(WithText("Narrow", false), 0, 3);
    target.Table(WithText("None", false), 0, -1);
    text.NewRow().WriteFieldString("label", "shared");
    ASSERT_EQ((std::vector<int>{text.CopyAllowed(wide), wide.CopyAllowed(text), text.CopyAllowed(same)}),
              (std::vector<int>{3, 0, 2}));
    for (qvt_Table* other : {&wide, &same}) text.Append(*other);
    EXPECT_EQ(text.ReadRow(1 + 7).ReadFieldString("label"), "shared");
    qvt_Table withHandle = source.Table(Shape("H", {{"h", qvt_TypeHandle}}), 0, -1);
    withHandle.NewRow().WriteFieldHandle("h", 5);
    const std::string incompatible = "qvt_TableRepr::Append - table being appended to \"";
    ExpectRefusals({
        {[&] { wide.Append(text); }, incompatible + "Wide\" does not have compatible metadata."},
        {[&] { withHandle.Append(withHandle); }, incompatible + "H\" does not have compatible metadata."},
    });
  }
  qvt_Database source = OpenDb("source.odb");
  source.Bind();
  qvt_Table to = source.Table(qvt_Handle(4), 0, -1);
  ASSERT_EQ(to.Length(), 1007);
  EXPECT_EQ((std::vector<int>{to.ReadRow(1005).ReadFieldInt("n"), to.ReadRow(1006).ReadFieldInt("n")}),
            (std::vector<int>{1499, -1}));
  qvt_Database target = OpenDb("target.odb");
  target.Bind();
  qvt_Table back = target.Table(qvt_Handle(4), 0, -1);
  qvt_Table none = target.Table(qvt_Handle(5), 0, -1);
  QVT_EXPECT_THROW_TEXT(back.Append(back), nex_TextException,
                        "qvt_TableRepr::Append - Attempt to append to read only table.");
  back.Append(none);  // nothing to append: no refusal
  ASSERT_EQ(back.Length(), 901);
  EXPECT_EQ(back.RowSize(), 4 + 8 + 4);
  for (int i = 0; i < 900; ++i) {
    qvt_Row row = back.ReadRow(1 + i);
    ASSERT_EQ(row.ReadFieldInt("n"), i % 300);
    ASSERT_EQ(row.DataIsPresent("label") ? row.ReadFieldString("label") : "(absent)",
              i % 5 == 0 ? "(absent)"
              : i % 2    ? "shared"
                         : "label " + std::to_string(i % 300));
  }
}

// Writes the fields of value v by index (see AllFieldTypes), or else answers what the row holds
// otherwise (empty when nothing); the int is always there, bit k of mask leaves field k absent.
std::string WriteOrCheck(qvt_Row& row, int v, bool write) {
  const int i = v * 7 - 3;
  const qvt_Handle h = static_cast<qvt_Handle>(v) * 2654435761u;
  const float f = static_cast<float>(v) * 0.5f;
  const double d = v / 3.0;
  const std::string s = "word" + std::to_string((v * 31) % 1000);
  const unsigned mask = static_cast<unsigned>((v * 2654435761u) >> 27);
  const auto has = [mask](int field) { return field == 0 || ((mask >> field) & 1u) == 0; };
  if (write) {
    row.WriteFieldInt(0, i);
    if (has(1)) row.WriteFieldHandle(1, h);
    if (has(2)) row.WriteFieldFloat(2, f);
    if (has(3)) row.WriteFieldDouble(3, d);
    if (has(4)) row.WriteFieldString(4, s);
    return std::string();
  }
  if (row.ReadFieldInt(0) != i) return "int";
  for (int field = 1; field < 5; ++field) {
    if (row.DataIsPresent(field) != (has(field) ? 1 : 0)) return "presence of " + std::to_string(field);
  }
  if (has(1) && row.ReadFieldHandle(1) != h) return "handle";
  if (has(2) && row.ReadFieldFloat(2) != f) return "float";
  if (has(3) && row.ReadFieldDouble(3) != d) return "double";
  if (has(4) && row.ReadFieldString(4) != s) return "string";
  return std::string();
}

TEST_P(RowTest, RowsAgreeWithAModelThroughCachesUpdatesAndReopening) {
  constexpr int kBulk = 20000;
  const unsigned seed = 20240611u;
  for (int cacheSize : {0, 1, 2, 5, -1}) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << ", cache " << cacheSize);
    std::mt19937 random(seed);
    std::vector<int> model;  // model[r]: the value row r was last written from
    const auto pick = [&] { return static_cast<int>(random() % model.size()); };
    const auto update = [&](qvt_Table& table, int r) {
      qvt_Row row = table.UpdateRow(r);
      row.Erase();
      model[static_cast<std::size_t>(r)] = static_cast<int>(random() % 100000);
      WriteOrCheck(row, model[static_cast<std::size_t>(r)], true);
    };
    const std::string name = "cache" + std::to_string(cacheSize + 1) + ".odb";
    {
      qvt_Database db = CreateDb(name);
      qvt_Table table = db.Table(AllFieldTypes("Mixed"), 8, cacheSize);
      for (int step = 0; step < kBulk + 600; ++step) {
        const int choice = step < kBulk ? 0 : static_cast<int>(random() % 4);
        if (choice == 0) {
          qvt_Row row = table.NewRow();
          model.push_back(step < kBulk ? step : static_cast<int>(random() % 100000));
          WriteOrCheck(row, model.back(), true);
          if (step == kBulk / 2) {
            // The cache writes back as it refills: most rows are stored unflushed.
            EXPECT_GT(table.SpaceLength(), static_cast<utl_FileOffset>(table.RowSize()) * step / 2);
            table.Flush();
          }
        } else if (choice == 1) {
          update(table, pick());
        } else if (choice == 2) {
          const int r = pick();
          qvt_Row row = table.ReadRow(r);
          ASSERT_EQ(WriteOrCheck(row, model[static_cast<std::size_t>(r)], false), "") << "row " << r;
        } else if (random() % 8 == 0) {
          table.Flush();
        }
      }
    }
    {
      qvt_Database db = OpenDb(name, false);
      db.Bind(AllFieldTypes("Mixed"));  // the caller's indices, whatever order the record has
      qvt_Table table = db.Table(qvt_Handle(4), 0, cacheSize);
      for (int k = 0; k < 2000; ++k) update(table, pick());
    }
    qvt_Database db = OpenDb(name);
    db.Bind(AllFieldTypes("Mixed"));
    qvt_Table table = db.Table(qvt_Handle(4), 0, cacheSize);
    ASSERT_EQ(table.Length(), static_cast<int>(model.size()));
    for (int r = 0; r < table.Length(); ++r) {
      qvt_Row row = table.ReadRow(-1);
      ASSERT_EQ(row.Location(), r);
      ASSERT_EQ(WriteOrCheck(row, model[static_cast<std::size_t>(r)], false), "") << "row " << r;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RowTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
