// Many rows through a whole life: written, flushed, closed, updated in
// place, reopened and read back in index order and in a seeded random
// order.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::AllFieldTypes;
using qvt_test::DatabaseKindTest;

// What row r holds: a value per field, and which fields are left absent,
// both functions of r alone.
struct Expected {
  explicit Expected(int r)
      : i(r * 7 - 3),
        h(static_cast<qvt_Handle>(r) * 2654435761u),
        f(static_cast<float>(r) * 0.5f),
        d(r / 3.0),
        s("word" + std::to_string((r * 31) % 1000)),
        mask(static_cast<unsigned>((r * 2654435761u) >> 27)) {}
  bool Has(int field) const { return ((mask >> field) & 1u) == 0 || field == 0; }
  int i;
  qvt_Handle h;
  float f;
  double d;
  std::string s;
  unsigned mask;  // bit k set: field k left absent (the int is always there)
};

void WriteRow(qvt_Row& row, int r) {
  const Expected e(r);
  row.WriteFieldInt(0, e.i);
  if (e.Has(1)) row.WriteFieldHandle(1, e.h);
  if (e.Has(2)) row.WriteFieldFloat(2, e.f);
  if (e.Has(3)) row.WriteFieldDouble(3, e.d);
  if (e.Has(4)) row.WriteFieldString(4, e.s);
}

// Empty when the row is as expected, else what differs.
std::string CheckRow(qvt_Row& row, int r) {
  const Expected e(r);
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

class RoundTripTest : public DatabaseKindTest {
 protected:
  // The table at handle 4 with the caller's indices, whatever order the
  // stored record has.
  static qvt_Table Mixed(qvt_Database& db, int cacheSize = -1) {
    db.Bind(AllFieldTypes("Mixed"));
    return db.Table(qvt_Handle(4), 0, cacheSize);
  }
};

// The first rows are written blank, then rewritten in place (erased and
// written again, in a seeded random order, then all of them) by an updater
// that reopened the file; the rest are written once. All come back in
// order, and a seeded sample in any order through a tiny cache.
TEST_P(RoundTripTest, HundredThousandRowsComeBackInOrderAndASampleInAnyOrder) {
  constexpr int kRows = 100000;
  constexpr int kUpdated = 5000;
  {
    qvt_Database db = CreateDb();
    qvt_Table table = db.Table(AllFieldTypes("Mixed"), 1 << 16, -1);
    for (int r = 0; r < kRows; ++r) {
      qvt_Row row = table.NewRow();
      if (r < kUpdated) {
        row.WriteFieldInt(0, 0);
      } else {
        WriteRow(row, r);
      }
      if (r == kRows / 2) table.Flush();
    }
    EXPECT_EQ(table.Flush(), 2);
    db.Flush();
  }
  {
    qvt_Database db = OpenDb("test.odb", false);
    qvt_Table table = Mixed(db);
    std::mt19937 random(31u);
    for (int k = 0; k < 2 * kUpdated; ++k) {
      const int r = k < kUpdated ? static_cast<int>(random() % kUpdated) : k - kUpdated;
      qvt_Row row = table.UpdateRow(r);
      row.Erase();
      WriteRow(row, r);
    }
  }
  qvt_Database db = OpenDb();
  qvt_Table table = Mixed(db);
  ASSERT_EQ(table.Length(), kRows);
  EXPECT_EQ(table.GetFlushCount(), 3);
  for (int r = 0; r < kRows; ++r) {
    qvt_Row row = table.ReadRow(-1);
    ASSERT_EQ(row.Location(), r);
    const std::string fault = CheckRow(row, r);
    ASSERT_TRUE(fault.empty()) << "row " << r << ": " << fault;
  }
  const unsigned seed = 977u;
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  std::vector<int> order(kRows);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  // On a compressed file each such read may decode a segment, so not all.
  qvt_Table small = db.Table(qvt_Handle(4), 0, 4);
  order.resize(4000);
  for (int r : order) {
    qvt_Row row = small.ReadRow(r);
    const std::string fault = CheckRow(row, r);
    ASSERT_TRUE(fault.empty()) << "row " << r << ": " << fault;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoundTripTest, ::testing::ValuesIn(qvt_test::AllFileKinds()),
                         qvt_test::KindParamName);

}  // namespace
