// A writer of a double and a string array whose file fails from its N-th
// change on, for every N until none fires: each run ends in success or the
// injected failure, and a reopen shows the rows of a completed database
// flush, every value intact, never a mix. Then seeded random damage of the
// stored arrays: read or refused, never a crash.
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
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

namespace {

// Random damage inside stored arrays: every visit ends in values read or a
// library exception, never a crash, a hang or a runaway allocation.
TEST(ArrayDamageTest, FlippedBytesAreReadOrRefused) {
  ScratchDir dir;
  const std::string path = dir.File("arrays.odb");
  std::vector<qvt_Handle> handles;
  {
    qvt_DatabaseReprFile db;
    db.Create(qvt_File::Open(path, 2, false), "TEST", "damage", 1);
    qvt_ArrayRepr ints(&db, qvt_TypeInt, 3, 0, 0);
    qvt_ArrayRepr doubles(&db, qvt_TypeDouble, 1, 0, 0);
    qvt_ArrayRepr words(&db, qvt_TypeString, 2, 0, 0);
    for (int i = 0; i < 50; ++i) {
      const int row[] = {i, -i, i * i};
      const double d = i / 3.0;
      const cow_String w[] = {Word(i), Word(i + 1)};
      ints.Write(row, 1);
      doubles.Write(&d, 1);
      words.Write(w, 1);
    }
    for (qvt_ArrayRepr* a : {&ints, &doubles, &words}) {
      a->Flush();
      handles.push_back(a->Handle());
    }
  }
  FlipObjectBytes(path, handles, 77031, 300, [&handles](const std::string& damaged) {
    qvt_DatabaseReprFile db;
    db.Open(qvt_File::Open(damaged, 0, true), "");
    for (qvt_Handle h : handles) {
      try {
        qvt_ArrayRepr a(&db, h, 0, 0);
        const int rows = a.Length();
        EXPECT_GE(rows, 0);
        if (a.FieldCount() > 1000) continue;  // a damaged count: rows too wide to read here
        // Values of whatever type the header claims, in bounded steps.
        std::vector<double> buffer(static_cast<std::size_t>(a.FieldCount()) * 4 + 8);
        std::vector<cow_String> strings(buffer.size());
        for (int step = 0; step < 1000; ++step) {
          const int got = a.Type() == qvt_TypeString ? a.Read(strings.data(), 4) : a.Read(buffer.data(), 4);
          if (got < 4 * a.FieldCount()) break;
        }
      } catch (const nex_Exception&) {
        // refused: allowed
      }
    }
  });
}

}  // namespace
