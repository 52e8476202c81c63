// A writer whose file fails from its N-th change on, for every N until no
// failure fires: each run ends in success or the injected exception, never a
// crash, and the file afterwards either opens with every flushed byte intact
// or is refused with a library exception.
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_FaultyFile.h"
#include "qvt_FileReprLocal.h"
#include "qvt_IOBuffer.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

using namespace qvt_test;

namespace {

constexpr int kFirstRound = 100;   // ints written before the first flush
constexpr int kSecondRound = 3000;  // ints written after it, through a buffer, across extents

class FaultInjectionTest : public DatabaseFixture {};

TEST_F(FaultInjectionTest, EveryFailurePointLeavesTheFlushedDataReadable) {
  int failFrom = 1;
  for (;; ++failFrom) {
    ASSERT_LT(failFrom, 10000) << "the sweep does not end";
    utl_RemoveFile(Path());
    auto* faulty = new FaultyFile(new qvt_FileReprLocal(Path(), 2, false), failFrom);
    qvt_File file(faulty);
    bool firstFlushDone = false;
    bool secondFlushDone = false;
    utl_FileOffset firstRef = 0;
    {
      StderrCapture closingReports;
      std::unique_ptr<qvt_DatabaseReprFile> db;
      std::unique_ptr<qvt_SpaceRepr> space;
      std::unique_ptr<qvt_SpaceRepr> other;
      try {
        db = std::make_unique<qvt_DatabaseReprFile>();
        db->Create(file, "TEST", "faults", 1);
        space.reset(db->Space(-1));
        other.reset(db->Space(-1));
        for (int i = 0; i < kFirstRound; ++i) space->WriteInt(i);
        firstRef = db->StringPool().StringOffset("first");
        db->Flush();
        firstFlushDone = true;
        {
          qvt_IOBuffer buffer(*space, 1024);
          for (int i = kFirstRound; i < kFirstRound + kSecondRound; ++i) {
            buffer.WriteInt(i);
            if (i % 500 == 0) other->WriteInt(-i);  // forces new extents
          }
          buffer.Flush();
        }
        db->StringPool().StringOffset("second");
        db->Flush();
        secondFlushDone = true;
      } catch (const nex_TextException& e) {
        EXPECT_EQ(e.AsString(), FaultyFile::kFailure) << "failing from change " << failFrom;
      }
      space.reset();
      other.reset();
      db.reset();  // closing reports what fails on standard error
      closingReports.Stop();
    }
    const bool fired = faulty->Fired();
    file = qvt_File();
    if (!fired) break;

    std::unique_ptr<qvt_DatabaseReprFile> reader;
    try {
      reader = Open();
    } catch (const nex_Exception& e) {
      EXPECT_FALSE(firstFlushDone) << "failing from change " << failFrom << ": " << e.AsString();
      continue;
    }
    if (!firstFlushDone) continue;
    std::unique_ptr<qvt_SpaceRepr> space(reader->Space(4, -1));
    const utl_FileOffset length = space->Length();
    EXPECT_GE(length, kFirstRound * 4) << "failing from change " << failFrom;
    std::vector<int> values(static_cast<std::size_t>(length / 4));
    ASSERT_EQ(space->ReadIntArray(values.data(), static_cast<int>(values.size())), static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(values[i], static_cast<int>(i)) << "failing from change " << failFrom;
    }
    EXPECT_EQ(reader->StringPool().String(firstRef), "first");
    if (secondFlushDone) {
      EXPECT_EQ(length, (kFirstRound + kSecondRound) * 4);
    }
  }
  EXPECT_GT(failFrom, 10);
  RecordProperty("failure_points", failFrom - 1);
}

}  // namespace
