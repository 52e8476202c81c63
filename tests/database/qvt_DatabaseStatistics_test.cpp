// Statistics lines and location reports of a database file: exact texts of
// a new database, extent counts, and which object a file offset names.
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_SpaceRepr.h"
#include "qvt_StringManagerFile.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

class DatabaseStatisticsTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Files.Path("stats.odb"); }
  // The database open on the file is closed first.
  void CreateDatabase() {
    m_Db.reset();
    m_Db = m_Files.Create("stats.odb", "ODB", "statistics", 42);
  }
  void Reopen() {
    m_Db.reset();
    m_Db = m_Files.Open("stats.odb", true, "ODB");
  }
  // A new space holding bytes bytes; answers its handle.
  qvt_Handle WriteSpace(int bytes, int increment) {
    std::unique_ptr<qvt_SpaceRepr> space(m_Db->Space(increment));
    const std::vector<char> data(static_cast<std::size_t>(bytes), 'x');
    EXPECT_EQ(space->Write(data.data(), bytes), bytes);
    return space->Handle();
  }
  // The location report of offset, as the handle and offset it names, or
  // the text itself when it names nothing.
  static std::string Located(qvt_Handle handle, long long offset) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "Object: %08x - Offset: %20lld", handle, offset);
    return buf;
  }
  qvt_test::DatabaseFiles m_Files;
  std::unique_ptr<qvt_DatabaseReprFile> m_Db;
};

const Lines kNewDatabaseLines = {
    "Block 0 Size (bytes)=1024",
    "Total Linkage Usage (bytes)=               14336",
    "Metadata Pool Size (bytes)=                   4",
    "String Pool Size (bytes)=                   4",
    "String Pool Count (number of strings)=0",
    "String Pool Linkage_Count=1",
};

// A new database answers the same six lines after a flush and on a reader;
// the string pool lines count records not yet flushed, and once flushed
// behind the metadata pool's extent the records take a second extent of the
// pool's chain. (The public handle's lines: the tool tests' qvtdb info.)
TEST_F(DatabaseStatisticsTest, NewDatabaseAnswersTheSixLinesAndStringPoolLinesFollowThePool) {
  CreateDatabase();
  m_Db->Flush();
  EXPECT_EQ(m_Db->GetDBStatistics(), kNewDatabaseLines);
  Reopen();
  EXPECT_EQ(m_Db->GetDBStatistics(), kNewDatabaseLines);
  CreateDatabase();
  m_Db->StringPool().StringOffset("abc");    // record at 4: 4 + 4 bytes
  m_Db->StringPool().StringOffset("hello");  // record at 12: 4 + 8 bytes
  m_Db->StringPool().StringOffset("abc");    // known already
  Lines lines = m_Db->GetDBStatistics();
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
            (Lines{"String Pool Size (bytes)=                  24", "String Pool Count (number of strings)=2",
                   "String Pool Linkage_Count=1"}));
  m_Db->Flush();
  lines = m_Db->GetDBStatistics();
  EXPECT_EQ(lines[3], "String Pool Size (bytes)=                  24");
  EXPECT_EQ(lines[5], "String Pool Linkage_Count=2");
  Reopen();
  EXPECT_EQ(m_Db->GetDBStatistics()[4], "String Pool Count (number of strings)=2");
  // Handles 1 to 3 are taken; 508 more fill block 0, the next opens block 1.
  CreateDatabase();
  for (int i = 0; i < 508; ++i) delete m_Db->Space(-1);
  EXPECT_EQ(m_Db->GetDBStatistics()[1], "Total Linkage Usage (bytes)=               14336");
  std::unique_ptr<qvt_SpaceRepr> space(m_Db->Space(-1));
  EXPECT_EQ(space->Handle(), 513u);
  EXPECT_EQ(m_Db->GetDBStatistics()[1], "Total Linkage Usage (bytes)=               28672");
}

// One database of spaces: each one's extent count, the handle list (each
// space once, without its later extents, and a handle handed out but never
// placed), and which object a file offset names: none in the header and
// linkage blocks or behind a space's length; in a later extent the earlier
// extents' lengths are counted; the next byte after a full space is the
// next object's first. The string pool's marker sits in its head extent,
// the first record (offset 4 of handle 1) in the next; the metadata pool's
// marker is handle 3's. A damaged chain is refused by both.
TEST_F(DatabaseStatisticsTest, ExtentCountsAndLocationReportsFollowTheChains) {
  CreateDatabase();
  m_Db->StringPool().StringOffset("abc");
  const qvt_Handle h = WriteSpace(10, 100);
  const qvt_Handle full = WriteSpace(8, 4);
  const qvt_Handle next = WriteSpace(4, 4);
  {
    // Grown alone at the end of the file: in place, one extent.
    std::unique_ptr<qvt_SpaceRepr> space(m_Db->Space(next, 4));
    space->Seek(space->Length());
    ASSERT_EQ(space->Write("0123", 4), 4);
  }
  std::unique_ptr<qvt_SpaceRepr> a(m_Db->Space(4));
  std::unique_ptr<qvt_SpaceRepr> b(m_Db->Space(4));
  ASSERT_EQ(a->Write("a0a0", 4), 4);
  ASSERT_EQ(b->Write("b0b0", 4), 4);
  ASSERT_EQ(a->Write("a1a1a1", 6), 6);  // a second extent of 8 bytes, 6 used
  std::unique_ptr<qvt_SpaceRepr> empty(m_Db->Space(4));
  // No space: slot 0, slot 0 of block 1, a free slot, far outside.
  for (const qvt_Handle none : {0u, 512u, 100u, 0xFFFFFFFFu})
    EXPECT_TRUE(m_Db->GetObjStatistics(none).empty());
  const std::vector<std::pair<qvt_Handle, int>> extents = {{2, 1}, {h, 1}, {next, 1}, {a->Handle(), 2}};
  for (const auto& e : extents)
    EXPECT_EQ(m_Db->GetObjStatistics(e.first), Lines{"Linkage_Count=" + std::to_string(e.second)}) << e.first;
  const std::vector<qvt_Handle> wanted{1, 2, 3, h, full, next, a->Handle(), b->Handle(), empty->Handle()};
  EXPECT_EQ(m_Db->ObjectHandles(), wanted);
  m_Db->Flush();
  const auto at = [&](qvt_Handle handle) { return m_Db->LinkageEntry(handle).m_Location; };
  const qvt_Handle secondExtent = m_Db->LinkageEntry(a->Handle()).m_Next;
  const utl_FileOffset second = at(secondExtent);
  const utl_FileOffset records = at(m_Db->LinkageEntry(1).m_Next);
  EXPECT_EQ(at(next), at(full) + 8);
  const std::string none = "Object not found.";
  const std::pair<long long, std::string> reports[] = {
      {0, none},     // the header
      {1024, none},  // linkage block 0
      {-1, none},
      {1LL << 40, none},
      {at(h) + 9, Located(h, 9)},
      {at(h) + 10, none},
      {at(h) + 99, none},
      {at(full) + 7, Located(full, 7)},
      {at(full) + 8, Located(next, 0)},
      {second + 5, Located(a->Handle(), 9)},
      {second + 6, none},
      {second + 5, Located(a->Handle(), 9)},  // repeatable: the marks are rebuilt on every call
      {at(b->Handle()), Located(b->Handle(), 0)},
      {at(1), Located(1, 0)},
      {at(1) + 3, Located(1, 3)},
      {records, "Object: 00000001 - Offset:                    4"},
      {records + 7, Located(1, 11)},
      {at(3), Located(3, 0)},
  };
  for (const auto& r : reports) EXPECT_EQ(m_Db->GetObjectLocationReport(r.first), r.second) << r.first;
  qvt_DatabaseRepr& base = *m_Db;
  EXPECT_EQ(base.qvt_DatabaseRepr::GetObjectLocationReport(0),
            "Object location report not supported for this qvt database type.");
  // As a damaged file could hold it: the last extent names itself, or a
  // slot beyond the handed-out ones. Neither is walked.
  const std::string corrupt = "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Name();
  for (const qvt_Handle loop : {secondExtent, qvt_Handle(400)}) {
    m_Db->LinkageEntry(secondExtent).m_Next = loop;
    QVT_EXPECT_THROW_TEXT(m_Db->GetObjStatistics(a->Handle()), nex_TextException, corrupt);
    QVT_EXPECT_THROW_TEXT(m_Db->GetObjectLocationReport(0), nex_TextException, corrupt);
  }
  m_Db->LinkageEntry(secondExtent).m_Next = 0;
  const qvt_Handle ha = a->Handle();
  a.reset();
  b.reset();
  empty.reset();
  Reopen();
  EXPECT_EQ(m_Db->GetObjStatistics(ha), Lines{"Linkage_Count=2"});
  EXPECT_EQ(m_Db->ObjectHandles(), wanted);
}

}  // namespace
