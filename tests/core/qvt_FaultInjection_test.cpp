// A writer whose file fails from its N-th change on, for every N until no
// failure fires: each run ends in success or the injected exception, never a
// crash, and the file afterwards either opens with every flushed byte intact
// or is refused with a library exception.
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_IOBuffer.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"

using namespace qvt_test;

namespace {

constexpr int kFirstRound = 100;   // ints written before the first flush
constexpr int kSecondRound = 3000;  // ints written after it, through a buffer, across extents

class FaultInjectionTest : public DatabaseFixture {};

TEST_F(FaultInjectionTest, EveryFailurePointLeavesTheFlushedDataReadable) {
  utl_FileOffset firstRef = 0;
  const int failurePoints = SweepFileFaults(
      Path(),
      [&firstRef](qvt_DatabaseReprFile& db, int* flushes) {
        std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1));
        std::unique_ptr<qvt_SpaceRepr> other(db.Space(-1));
        for (int i = 0; i < kFirstRound; ++i) space->WriteInt(i);
        firstRef = db.StringPool().StringOffset("first");
        db.Flush();
        ++*flushes;
        {
          qvt_IOBuffer buffer(*space, 1024);
          for (int i = kFirstRound; i < kFirstRound + kSecondRound; ++i) {
            buffer.WriteInt(i);
            if (i % 500 == 0) other->WriteInt(-i);  // forces new extents
          }
          buffer.Flush();
        }
        db.StringPool().StringOffset("second");
        db.Flush();
        ++*flushes;
      },
      [&firstRef](qvt_DatabaseReprFile& reader, int flushes) {
        if (flushes == 0) return;
        std::unique_ptr<qvt_SpaceRepr> space(reader.Space(4, -1));
        const utl_FileOffset length = space->Length();
        EXPECT_GE(length, kFirstRound * 4);
        std::vector<int> values(static_cast<std::size_t>(length / 4));
        ASSERT_EQ(space->ReadIntArray(values.data(), static_cast<int>(values.size())),
                  static_cast<int>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], static_cast<int>(i));
        EXPECT_EQ(reader.StringPool().String(firstRef), "first");
        if (flushes == 2) {
          EXPECT_EQ(length, (kFirstRound + kSecondRound) * 4);
        }
      });
  EXPECT_GT(failurePoints, 10);
  RecordProperty("failure_points", failurePoints);
}

}  // namespace
