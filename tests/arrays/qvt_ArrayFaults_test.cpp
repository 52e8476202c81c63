// A writer of a double and a string array whose file fails from its N-th
// change on, for every N until none fires: each run ends in success or the
// injected failure, and a reopen shows the rows of a completed database
// flush, every value intact, never a mix.
#include <memory>
#include <string>
#include <vector>

#include "qvt_ArrayRepr.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

constexpr int kFirstRows = 100;
constexpr int kSecondRows = 2000;

double Value(int i) { return i * 1.5 - 7.0; }
cow_String Word(int i) { return "word " + std::to_string(i % 37); }

void WriteRows(qvt_ArrayRepr& doubles, qvt_ArrayRepr& words, int from, int count) {
  std::vector<double> d;
  std::vector<cow_String> w;
  for (int i = from; i < from + count; ++i) {
    d.push_back(Value(2 * i));
    d.push_back(Value(2 * i + 1));
    w.push_back(Word(i));
  }
  doubles.Write(d.data(), count);
  words.Write(w.data(), count);
}

TEST(ArrayFaultsTest, EveryFailurePointLeavesFlushedRowsReadable) {
  ScratchDir dir;
  const int points = SweepFileFaults(
      dir.File("faults.odb"),
      [](qvt_DatabaseReprFile& db, int* flushes) {
        qvt_ArrayRepr doubles(&db, qvt_TypeDouble, 2, 0, 256);
        qvt_ArrayRepr words(&db, qvt_TypeString, 1, 0, 64);
        WriteRows(doubles, words, 0, kFirstRows);
        doubles.Flush();
        words.Flush();
        db.Flush();
        ++*flushes;
        WriteRows(doubles, words, kFirstRows, kSecondRows);
        doubles.Flush();
        words.Flush();
        db.Flush();
        ++*flushes;
      },
      [](qvt_DatabaseReprFile& db, int flushes) {
        if (flushes == 0) return;
        qvt_ArrayRepr doubles(&db, 4, 0, 0);
        qvt_ArrayRepr words(&db, 5, 0, 0);
        const int rows = doubles.Length();
        // The linkage of the second flush may be on disk even when its
        // flush count did not make it; anything else would be a mix.
        if (flushes == 2) {
          EXPECT_EQ(rows, kFirstRows + kSecondRows);
        } else {
          EXPECT_TRUE(rows == kFirstRows || rows == kFirstRows + kSecondRows) << rows;
        }
        EXPECT_EQ(words.Length(), rows);
        std::vector<double> d(static_cast<std::size_t>(rows) * 2);
        std::vector<cow_String> w(static_cast<std::size_t>(rows));
        ASSERT_EQ(doubles.Read(d.data(), rows), rows * 2);
        ASSERT_EQ(words.Read(w.data(), rows), rows);
        for (int i = 0; i < rows * 2; ++i) ASSERT_EQ(d[static_cast<std::size_t>(i)], Value(i));
        for (int i = 0; i < rows; ++i) ASSERT_EQ(w[static_cast<std::size_t>(i)], Word(i));
      });
  EXPECT_GT(points, 10);
  RecordProperty("failure_points", points);
}

}  // namespace
