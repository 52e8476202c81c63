// Rows of every field type through a whole life against a model: written
// in bulk across many blocks, then seeded new rows, updates in place and
// reads through caches of several sizes, updated again by a writer that
// reopened the file, and read back in index order.
#include <random>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

// What a row written from value v holds: a value per field, and which
// fields are left absent, all functions of v.
struct Expected {
  explicit Expected(int v)
      : i(v * 7 - 3),
        h(static_cast<qvt_Handle>(v) * 2654435761u),
        f(static_cast<float>(v) * 0.5f),
        d(v / 3.0),
        s("word" + std::to_string((v * 31) % 1000)),
        mask(static_cast<unsigned>((v * 2654435761u) >> 27)) {}
  bool Has(int field) const { return ((mask >> field) & 1u) == 0 || field == 0; }
  int i;
  qvt_Handle h;
  float f;
  double d;
  std::string s;
  unsigned mask;  // bit k set: field k left absent (the int is always there)
};

// Writes the fields of value v by index (i, h, f, d, s: see AllFieldTypes).
void WriteRow(qvt_Row& row, int v) {
  const Expected e(v);
  row.WriteFieldInt(0, e.i);
  if (e.Has(1)) row.WriteFieldHandle(1, e.h);
  if (e.Has(2)) row.WriteFieldFloat(2, e.f);
  if (e.Has(3)) row.WriteFieldDouble(3, e.d);
  if (e.Has(4)) row.WriteFieldString(4, e.s);
}

// Empty when the row holds value v, else what differs.
std::string CheckRow(qvt_Row& row, int v) {
  const Expected e(v);
  if (row.ReadFieldInt(0) != e.i) return "int";
  for (int field = 1; field < 5; ++field) {
    if (row.DataIsPresent(field) != (e.Has(field) ? 1 : 0)) return "presence of " + std::to_string(field);
  }
  if (e.Has(1) && row.ReadFieldHandle(1) != e.h) return "handle";
  if (e.Has(2) && row.ReadFieldFloat(2) != e.f) return "float";
  if (e.Has(3) && row.ReadFieldDouble(3) != e.d) return "double";
  if (e.Has(4) && row.ReadFieldString(4) != e.s) return "string";
  return std::string();
}

class RoundTripTest : public DatabaseKindTest {};

TEST_P(RoundTripTest, RowsAgreeWithAModelThroughCachesUpdatesAndReopening) {
  constexpr int kBulk = 20000;
  const unsigned seed = 20240611u;
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  for (int cacheSize : {0, 1, 2, 5, -1}) {
    SCOPED_TRACE(::testing::Message() << "cache " << cacheSize);
    std::mt19937 random(seed);
    std::vector<int> model;  // model[r]: the value row r was last written from
    const auto pick = [&] { return static_cast<int>(random() % model.size()); };
    const auto update = [&](qvt_Table& table, int r) {
      qvt_Row row = table.UpdateRow(r);
      row.Erase();
      model[static_cast<std::size_t>(r)] = static_cast<int>(random() % 100000);
      WriteRow(row, model[static_cast<std::size_t>(r)]);
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
          WriteRow(row, model.back());
          if (step == kBulk / 2) table.Flush();
        } else if (choice == 1) {
          update(table, pick());
        } else if (choice == 2) {
          const int r = pick();
          qvt_Row row = table.ReadRow(r);
          ASSERT_EQ(CheckRow(row, model[static_cast<std::size_t>(r)]), "") << "row " << r;
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
      ASSERT_EQ(CheckRow(row, model[static_cast<std::size_t>(r)]), "") << "row " << r;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoundTripTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
