// Fault injection and seeded damage, written once and run for every object
// kind (space, arrays, tagged stream). A writer whose file fails from its
// N-th change on, for every N until none fires, ends in success or the
// injected failure, and a reopen shows the records of a completed database
// flush, every value intact, never a mix. Random byte flips inside stored
// objects end in values read or a library exception, never a crash.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
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

// Rows i of a two-double array and a string array.
void WriteRows(qvt_ArrayRepr& doubles, qvt_ArrayRepr& words, int from, int count) {
  std::vector<double> d;
  std::vector<cow_String> w;
  for (int i = from; i < from + count; ++i) {
    d.insert(d.end(), {Value(2 * i), Value(2 * i + 1)});
    w.push_back(Word(i));
  }
  doubles.Write(d.data(), count);
  words.Write(w.data(), count);
}

utl_FileOffset g_FirstString = 0;

struct ObjectKind {
  std::string name;
  int first, second;   // records of the first and the second flush
  bool prefixAllowed;  // a space may show any whole prefix of its second round
  // Writes the first round, calls flush, writes the second, calls flush.
  std::function<void(Db&, const std::function<void()>& flush)> write;
  // Reads the objects of the reopened file, checks every value, answers the record count.
  std::function<int(Db&)> check;
  // Makes objects for the damage test and answers their handles; null: none.
  std::function<std::vector<qvt_Handle>(Db&)> makeForDamage;
  // Reads every object of a damaged copy in bounded steps.
  std::function<void(Db&, const std::vector<qvt_Handle>&)> visitDamaged;
};

const std::vector<ObjectKind>& Kinds() {
  static const std::vector<ObjectKind> kinds = {
      {"Space", 100, 3000, true,
       [](Db& db, const std::function<void()>& flush) {
         std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1));
         std::unique_ptr<qvt_SpaceRepr> other(db.Space(-1));
         for (int i = 0; i < 100; ++i) space->WriteInt(i);
         g_FirstString = db.StringPool().StringOffset("first");
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
         std::unique_ptr<qvt_SpaceRepr> space(db.Space(4, -1));
         std::vector<int> values(static_cast<std::size_t>(space->Length() / 4));
         EXPECT_EQ(space->ReadIntArray(values.data(), static_cast<int>(values.size())),
                   static_cast<int>(values.size()));
         for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], static_cast<int>(i));
         EXPECT_EQ(db.StringPool().String(g_FirstString), "first");
         return static_cast<int>(values.size());
       },
       nullptr, nullptr},
      {"Arrays", 100, 2000, false,
       [](Db& db, const std::function<void()>& flush) {
         qvt_ArrayRepr doubles(&db, qvt_TypeDouble, 2, 0, 256);
         qvt_ArrayRepr words(&db, qvt_TypeString, 1, 0, 64);
         for (const auto& round : {std::make_pair(0, 100), std::make_pair(100, 2000)}) {
           WriteRows(doubles, words, round.first, round.second);
           doubles.Flush();
           words.Flush();
           flush();
         }
       },
       [](Db& db) {
         qvt_ArrayRepr doubles(&db, 4, 0, 0);
         qvt_ArrayRepr words(&db, 5, 0, 0);
         const int rows = doubles.Length();
         EXPECT_EQ(words.Length(), rows);
         std::vector<double> d(static_cast<std::size_t>(rows) * 2);
         std::vector<cow_String> w(static_cast<std::size_t>(rows));
         EXPECT_EQ(doubles.Read(d.data(), rows), rows * 2);
         EXPECT_EQ(words.Read(w.data(), rows), rows);
         for (int i = 0; i < rows * 2; ++i) EXPECT_EQ(d[static_cast<std::size_t>(i)], Value(i));
         for (int i = 0; i < rows; ++i) EXPECT_EQ(w[static_cast<std::size_t>(i)], Word(i));
         return rows;
       },
       [](Db& db) {
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
         std::vector<qvt_Handle> handles;
         for (qvt_ArrayRepr* a : {&ints, &doubles, &words}) {
           a->Flush();
           handles.push_back(a->Handle());
         }
         return handles;
       },
       [](Db& db, const std::vector<qvt_Handle>& handles) {
         for (qvt_Handle h : handles) {
           try {
             qvt_ArrayRepr a(&db, h, 0, 0);
             EXPECT_GE(a.Length(), 0);
             if (a.FieldCount() > 1000) continue;  // a damaged count: rows too wide to read here
             std::vector<double> buffer(static_cast<std::size_t>(a.FieldCount()) * 4 + 8);
             std::vector<cow_String> strings(buffer.size());
             for (int step = 0; step < 1000; ++step) {
               const int got =
                   a.Type() == qvt_TypeString ? a.Read(strings.data(), 4) : a.Read(buffer.data(), 4);
               if (got < 4 * a.FieldCount()) break;
             }
           } catch (const nex_Exception&) {
           }
         }
       }},
      {"TaggedStream", 30, 600, false,
       [](Db& db, const std::function<void()>& flush) {
         qvt_TaggedStreamRepr s(&db, 128);
         for (int i = 0; i < 30; ++i) WriteTaggedRecord(s, i);
         s.Flush();
         flush();
         for (int i = 30; i < 630; ++i) WriteTaggedRecord(s, i);
         s.Flush();
         flush();
       },
       [](Db& db) {
         qvt_TaggedStreamRepr s(&db, 4, 0);
         int count = 0;
         while (s.Next()) ExpectTaggedRecord(s, count++);
         return count;
       },
       [](Db& db) {
         qvt_TaggedStreamRepr s(&db, 0);
         for (int i = 0; i < 120; ++i) WriteTaggedRecord(s, i);
         s.Flush();
         return std::vector<qvt_Handle>{s.Handle()};
       },
       [](Db& db, const std::vector<qvt_Handle>& handles) {
         qvt_TaggedStreamRepr s(&db, handles.at(0), 0);
         int records = 0;
         while (s.Next()) ASSERT_LT(++records, 100000);
       }},
  };
  return kinds;
}

class FaultSweepTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  const ObjectKind& Kind() const { return Kinds()[GetParam()]; }
  ScratchDir m_Dir;
};

TEST_P(FaultSweepTest, EveryFailurePointLeavesTheFlushedRecordsReadable) {
  const ObjectKind& kind = Kind();
  const int points = SweepFileFaults(
      m_Dir.File("faults.odb"),
      [&kind](Db& db, int* flushes) {
        kind.write(db, [&db, flushes] {
          db.Flush();
          ++*flushes;
        });
      },
      [&kind](Db& db, int flushes) {
        if (flushes == 0) return;
        const int count = kind.check(db);
        const int all = kind.first + kind.second;
        // The linkage of the second flush may be on disk even when its flush
        // count did not make it; anything else would be a mix.
        if (flushes == 2) {
          EXPECT_EQ(count, all);
        } else if (kind.prefixAllowed) {
          EXPECT_TRUE(count >= kind.first && count <= all) << count;
        } else {
          EXPECT_TRUE(count == kind.first || count == all) << count;
        }
      });
  EXPECT_GT(points, 10);
  RecordProperty("failure_points", points);
}

// A space's bytes carry no structure to damage: the kinds from 1 on.
class DamageTest : public FaultSweepTest {};

TEST_P(DamageTest, FlippedBytesAreReadOrRefused) {
  const ObjectKind& kind = Kind();
  const std::string path = m_Dir.File("damage.odb");
  std::vector<qvt_Handle> handles;
  {
    Db db;
    db.Create(qvt_File::Open(path, 2, false), "TEST", "damage", 1);
    handles = kind.makeForDamage(db);
  }
  FlipObjectBytes(path, handles, 77031 + static_cast<unsigned>(GetParam()), 350,
                  [&](const std::string& damaged) {
                    Db db;
                    db.Open(qvt_File::Open(damaged, 0, true), "");
                    kind.visitDamaged(db, handles);
                  });
}

std::string KindName(const ::testing::TestParamInfo<std::size_t>& info) { return Kinds()[info.param].name; }
INSTANTIATE_TEST_SUITE_P(Kinds, FaultSweepTest, ::testing::Range<std::size_t>(0, 3), KindName);
INSTANTIATE_TEST_SUITE_P(Kinds, DamageTest, ::testing::Range<std::size_t>(1, 3), KindName);

}  // namespace
