// Many rows through a whole life: written, flushed, closed, updated in
// place, reopened and read back in index order and in a seeded random
// order; and damaged copies, whose every flipped byte either leaves the
// rows readable or gives a clear exception, never a crash or a hang.
#include <algorithm>
#include <numeric>
#include <random>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using namespace qvt_test;

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

// Opens the file and reads every field of every row; answers how far it
// got: 0 failed to open, 1 opened, 2 read every row.
int ReadEverything(const std::string& path) {
  int reached = 0;
  try {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(path, 0, true), "");
    reached = 1;
    db.Bind();
    for (const cow_String& name : db.GetTableMetadataNames()) db.GetTableMetadata(name);
    qvt_Table table = db.Table(qvt_Handle(4), 0, 7);
    for (int r = 0; r < table.Length(); ++r) {
      qvt_Row row = table.ReadRow(r);
      for (const auto& field : row.FieldMetadataMap()) {
        if (!row.DataIsPresent(field.first)) continue;
        try {
          const int type = field.second.Type();
          if (type == qvt_TypeInt) row.ReadFieldInt(field.first);
          if (type == qvt_TypeHandle) row.ReadFieldHandle(field.first);
          if (type == qvt_TypeFloat) row.ReadFieldFloat(field.first);
          if (type == qvt_TypeDouble) row.ReadFieldDouble(field.first);
          if (type == qvt_TypeString) row.ReadFieldString(field.first);
        } catch (const nex_Exception&) {
          // A damaged value: the rest of the row is still read.
        }
      }
    }
    reached = 2;
  } catch (const nex_Exception&) {
  }
  return reached;
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

// Plain files, whose bytes are flipped.
TEST(DamagedTablesTest, RandomByteFlipsNeverCrash) {
  const DatabaseFiles files;
  const auto Path = [&files](const char* name) { return files.Path(name); };
  {
    qvt_Database db(files.Create().release());
    qvt_Table table = db.Table(AllFieldTypes("Damaged"), 0, -1);
    for (int r = 0; r < 120; ++r) {
      qvt_Row row = table.NewRow();
      WriteRow(row, r);
    }
  }
  ASSERT_EQ(ReadEverything(Path("test.odb")), 2);
  const std::vector<unsigned char> original = ReadAll(Path("test.odb"));
  // Flips fall into the header and pools as well as the rows: the first
  // 24 KiB hold everything but the unused end of the allocation.
  const std::size_t span = std::min<std::size_t>(original.size(), 24 * 1024);
  const unsigned seed = 4242u;
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  std::mt19937 random(seed);
  int readAll = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<unsigned char> damaged = original;
    const std::size_t at = random() % span;
    damaged[at] ^= static_cast<unsigned char>(1u << (random() % 8));
    WriteAll(Path("damaged.odb"), damaged);
    SCOPED_TRACE(::testing::Message() << "round " << round << ", byte " << at);
    if (ReadEverything(Path("damaged.odb")) == 2) ++readAll;
  }
  // Most flips land in bytes that do not matter to a reader.
  EXPECT_GT(readAll, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoundTripTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
