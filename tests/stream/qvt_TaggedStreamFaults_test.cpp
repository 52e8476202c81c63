// A writer of a tagged stream whose file fails from its N-th change on, for
// every N until none fires: each run ends in success or the injected
// failure, and a reopen walks the records of a completed database flush,
// every one intact, and then ends cleanly. Then seeded random damage of
// the stored stream: walked or refused, never a crash.
#include <memory>
#include <string>

#include "nex_Exception.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TaggedStreamRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

constexpr int kFirstRecords = 30;
constexpr int kSecondRecords = 600;

// Record i: the kinds in turn, identifier i.
void WriteRecord(qvt_TaggedStreamRepr& s, int i) {
  switch (i % 6) {
    case 0:
      s.WriteInt(i, -i);
      break;
    case 1:
      s.WriteHandle(i, static_cast<qvt_Handle>(i + 4));
      break;
    case 2:
      s.WriteFloat(i, i * 0.25f);
      break;
    case 3:
      s.WriteDouble(i, i / 7.0);
      break;
    case 4:
      s.WriteString(i, "pooled " + std::to_string(i % 11));
      break;
    default:
      s.WriteFixedString(i, std::string(static_cast<std::size_t>(i % 13), 'f'));
      break;
  }
}

void ExpectRecord(const qvt_TaggedStreamRepr& s, int i) {
  ASSERT_EQ(s.GetID(), i);
  switch (i % 6) {
    case 0:
      EXPECT_EQ(s.GetInt(), -i);
      break;
    case 1:
      EXPECT_EQ(s.GetHandle(), static_cast<qvt_Handle>(i + 4));
      break;
    case 2:
      EXPECT_EQ(s.GetFloat(), i * 0.25f);
      break;
    case 3:
      EXPECT_EQ(s.GetDouble(), i / 7.0);
      break;
    case 4:
      EXPECT_EQ(s.GetString(), "pooled " + std::to_string(i % 11));
      break;
    default:
      EXPECT_EQ(s.GetString(), std::string(static_cast<std::size_t>(i % 13), 'f'));
      break;
  }
}

TEST(TaggedStreamFaultsTest, EveryFailurePointLeavesFlushedRecordsReadable) {
  ScratchDir dir;
  const int points = SweepFileFaults(
      dir.File("faults.odb"),
      [](qvt_DatabaseReprFile& db, int* flushes) {
        qvt_TaggedStreamRepr s(&db, 128);
        for (int i = 0; i < kFirstRecords; ++i) WriteRecord(s, i);
        s.Flush();
        db.Flush();
        ++*flushes;
        for (int i = kFirstRecords; i < kFirstRecords + kSecondRecords; ++i) WriteRecord(s, i);
        s.Flush();
        db.Flush();
        ++*flushes;
      },
      [](qvt_DatabaseReprFile& db, int flushes) {
        if (flushes == 0) return;
        qvt_TaggedStreamRepr s(&db, 4, 0);
        int count = 0;
        while (s.Next()) {
          ExpectRecord(s, count);
          ++count;
        }
        if (flushes == 2) {
          EXPECT_EQ(count, kFirstRecords + kSecondRecords);
        } else {
          EXPECT_TRUE(count == kFirstRecords || count == kFirstRecords + kSecondRecords) << count;
        }
      });
  EXPECT_GT(points, 10);
  RecordProperty("failure_points", points);
}

}  // namespace

namespace {

// Random damage inside a stored stream: every walk ends at the end of the
// stream or with a library exception, never a crash, a hang or a runaway
// allocation.
TEST(TaggedStreamDamageTest, FlippedBytesAreReadOrRefused) {
  ScratchDir dir;
  const std::string path = dir.File("stream.odb");
  qvt_Handle handle;
  {
    qvt_DatabaseReprFile db;
    db.Create(qvt_File::Open(path, 2, false), "TEST", "damage", 1);
    qvt_TaggedStreamRepr s(&db, 0);
    for (int i = 0; i < 120; ++i) WriteRecord(s, i);
    s.Flush();
    handle = s.Handle();
  }
  FlipObjectBytes(path, {handle}, 99173, 400, [handle](const std::string& damaged) {
    qvt_DatabaseReprFile db;
    db.Open(qvt_File::Open(damaged, 0, true), "");
    qvt_TaggedStreamRepr s(&db, handle, 0);
    int records = 0;
    while (s.Next()) ASSERT_LT(++records, 100000);
  });
}

}  // namespace
