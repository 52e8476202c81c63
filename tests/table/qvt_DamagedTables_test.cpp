// Damaged database files holding tables: every byte of the file that a
// seeded random walk flips either leaves the rows readable or gives a clear
// exception, never a crash, a hang or a read outside memory.
#include <gtest/gtest.h>

#include <random>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::AllFieldTypes;

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

class DamagedTablesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "test.odb") const { return m_Files.Path(name); }
  qvt_test::DatabaseFiles m_Files;  // plain files, whose bytes are flipped
};

TEST_F(DamagedTablesTest, RandomByteFlipsNeverCrash) {
  {
    qvt_Database db(m_Files.Create().release());
    qvt_Table table = db.Table(AllFieldTypes("Damaged"), 0, -1);
    for (int r = 0; r < 120; ++r) {
      qvt_Row row = table.NewRow();
      row.WriteFieldInt("i", r);
      if (r % 3) row.WriteFieldHandle("h", static_cast<qvt_Handle>(r));
      row.WriteFieldFloat("f", r * 1.5f);
      if (r % 4) row.WriteFieldDouble("d", r * 0.25);
      row.WriteFieldString("s", "text " + std::to_string(r % 9));
    }
  }
  ASSERT_EQ(ReadEverything(Path()), 2);
  const std::vector<unsigned char> original = qvt_test::ReadAll(Path());
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
    qvt_test::WriteAll(Path("damaged.odb"), damaged);
    SCOPED_TRACE(::testing::Message() << "round " << round << ", byte " << at);
    if (ReadEverything(Path("damaged.odb")) == 2) ++readAll;
  }
  // Most flips land in bytes that do not matter to a reader.
  EXPECT_GT(readAll, 0);
}

}  // namespace
