// A writer whose file fails from its N-th change on, for every N, leaves the
// records of a completed flush, every value intact, never a mix: per object kind.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qvt_ArrayRepr.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_IOBuffer.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TaggedStreamRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

using Db = qvt_DatabaseReprFile;

double Value(int i) { return i * 1.5 - 7.0; }
cow_String Word(int i) { return "word " + std::to_string(i % 37); }

struct ObjectKind {
  std::string name;
  int first, second;   // records of the first and the second flush
  bool prefixAllowed;  // a space may show any whole prefix of its second round
  std::function<void(Db&, const std::function<void()>& flush)> write;  // two rounds, each flushed
  std::function<int(Db&)> check;  // checks every value reopened, answers the record count
};

const ObjectKind kKinds[] = {
    {"Space", 100, 3000, true,
     [](Db& db, const std::function<void()>& flush) {
       std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1)), other(db.Space(-1));
       for (int i = 0; i < 100; ++i) space->WriteInt(i);
       db.StringPool().StringOffset("first");
       flush();
       {
         qvt_IOBuffer buffer(*space, 1024);
         for (int i = 100; i < 3100; ++i) {
           buffer.WriteInt(i);
           if (i % 500 == 0) other->WriteInt(-i);  // forces new extents
         }
         buffer.Flush();
       }
       db.StringPool().StringOffset("second");
       flush();
     },
     [](Db& db) {
       const std::vector<unsigned char> bytes = ObjectBytes(db, 4);
       const std::vector<std::uint32_t> values = Words(bytes, 0, bytes.size() / 4);
       for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], i);
       EXPECT_EQ(db.StringPool().String(4), "first");
       return static_cast<int>(values.size());
     }},
    {"Arrays", 100, 2000, false,
     [](Db& db, const std::function<void()>& flush) {
       qvt_ArrayRepr doubles(&db, qvt_TypeDouble, 2, 0, 256), words(&db, qvt_TypeString, 1, 0, 64);
       std::vector<double> d;
       std::vector<cow_String> w;
       for (int i = 0; i < 2100; ++i) {
         d.insert(d.end(), {Value(2 * i), Value(2 * i + 1)});
         w.push_back(Word(i));
       }
       for (const auto& round : {std::make_pair(0, 100), std::make_pair(100, 2000)}) {
         doubles.Write(&d[static_cast<std::size_t>(2 * round.first)], round.second);
         words.Write(&w[static_cast<std::size_t>(round.first)], round.second);
         doubles.Flush();
         words.Flush();
         flush();
       }
     },
     [](Db& db) {
       qvt_ArrayRepr doubles(&db, 4, 0, 0), words(&db, 5, 0, 0);
       const int rows = doubles.Length();
       EXPECT_EQ(words.Length(), rows);
       std::vector<double> d(static_cast<std::size_t>(rows) * 2);
       std::vector<cow_String> w(static_cast<std::size_t>(rows));
       EXPECT_EQ(doubles.Read(d.data(), rows), rows * 2);
       EXPECT_EQ(words.Read(w.data(), rows), rows);
       for (int i = 0; i < rows * 2; ++i) EXPECT_EQ(d[static_cast<std::size_t>(i)], Value(i));
       for (int i = 0; i < rows; ++i) EXPECT_EQ(w[static_cast<std::size_t>(i)], Word(i));
       return rows;
     }},
    {"TaggedStream", 30, 600, false,
     [](Db& db, const std::function<void()>& flush) {
       qvt_TaggedStreamRepr s(&db, 128);
       for (const auto& round : {std::make_pair(0, 30), std::make_pair(30, 630)}) {
         for (int i = round.first; i < round.second; ++i) WriteTaggedRecord(s, i);
         s.Flush();
         flush();
       }
     },
     [](Db& db) {
       qvt_TaggedStreamRepr s(&db, 4, 0);
       int count = 0;
       while (s.Next()) ExpectTaggedRecord(s, count++);
       return count;
     }}};

class FaultSweepTest : public ::testing::TestWithParam<ObjectKind> {};

TEST_P(FaultSweepTest, EveryFailurePointLeavesTheFlushedRecordsReadable) {
  const ObjectKind& kind = GetParam();
  ScratchDir dir;
  const int points = SweepFileFaults(
      dir.File("faults.odb"),
      [&kind](Db& db, int* flushes) {
        kind.write(db, [&db, flushes] {
          db.Flush();
          ++*flushes;
        });
      },
      [&kind](Db& db, int announced) {
        if (announced == 0) return;
        const int count = kind.check(db);
        const int all = kind.first + kind.second;
        // The second flush's linkage may be on disk without its flush count.
        if (announced == 2)
          EXPECT_EQ(count, all);
        else
          EXPECT_TRUE(kind.prefixAllowed ? count >= kind.first && count <= all
                                         : count == kind.first || count == all)
              << count;
      });
  EXPECT_GT(points, 10);
  RecordProperty("failure_points", points);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultSweepTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<ObjectKind>& p) { return p.param.name; });

}  // namespace
