// Typed arrays on a database file of each kind: the stored bytes, every
// value kind through close and reopen, row arithmetic, flush counts,
// truncation, shared handles, every refusal; and moving rows: Append within
// one database and between two, CopyAllowed, and CreateCopy in chunks.
#include "qvt_Array.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ArrayRepr.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

const int kMagic = static_cast<int>(0xFFFAEEEBu);
const std::string kOpen = "qvt_ArrayRepr::qvt_ArrayRepr: ";
const char kNotAnArray[] = "Handle is not to an Array object in ODB/CAE file.  File may be unusable.";
const std::string kCorrupt = kOpen + "Array object in ODB/CAE file is corrupt.  File may be unusable.";
const char kInvalid[] =
    "***ERROR: Database is not valid. This may indicate that the database has been corrupted.";
const char kIllegalType[] = "qvt_ArrayRepr::RowSize - illegal array type.";
const char kReadOnly[] =
    "The output database was opened as read-only. Modification of data is not permitted.";

std::string BadFieldCount(int count) {
  return kOpen + "Invalid field count " + std::to_string(count) + "; a row holds 1 to 268435455 values.";
}

qvt_Handle SpaceOfWords(qvt_Database& db, const std::vector<int>& words) {
  qvt_Space space = db.Space(-1);
  for (int w : words) space.WriteInt(w);
  return space.Handle();
}

using IntArray = qvt_Array<int, 1>;
using StringArray = qvt_Array<cow_String, 6>;

class ArrayTest : public DatabaseKindTest {};

// Every stored value comes back bit for bit: extreme ints, a negative zero,
// the largest float, a denormal double, empty and repeated strings and one
// holding a zero byte.
TEST_P(ArrayTest, HeaderAndRowsAreStoredBigEndianAndEveryKindReopens) {
  const std::vector<int> ints = {
      1, 2, 3, -1, 0x01020304, 7, std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), 0};
  const std::vector<float> floats = {0.5f, -0.0f, 3.4e38f};
  const std::vector<double> doubles = {1e100, -4.9e-324, 3.0};
  const std::vector<cow_String> strings = {"x", "", std::string("a\0b", 3), "x"};
  {
    qvt_Database db = CreateDb();
    qvt_Array<int, 1> ai = db.ArrayInt(3, 64, 0);
    qvt_Array<float, 3> af = db.ArrayFloat(1, 0, 16);
    qvt_Array<double, 4> ad = db.ArrayDouble(3, -1, 0);
    qvt_Array<cow_String, 6> as = db.ArrayString(1, 0, 0);
    EXPECT_EQ((std::vector<int>{ai.Write(ints.data(), 2), af.Write(floats.data(), 3),
                                ad.Write(doubles.data(), 1), as.Write(strings.data(), 4)}),
              (std::vector<int>{2, 3, 1, 4}));
    EXPECT_EQ((std::vector<int>{ai.RowSize(), af.RowSize(), ad.RowSize(), as.RowSize()}),
              (std::vector<int>{12, 4, 24, 8}));
    EXPECT_EQ((std::vector<qvt_Handle>{ai.Handle(), as.Handle()}), (std::vector<qvt_Handle>{4, 7}));
    EXPECT_EQ(ai.Flush() + af.Flush() + ad.Flush(), 3);
    ai.Write(ints.data() + 6, 1);
    EXPECT_EQ(ai.Flush(), 2);
    db.Flush();
    const std::vector<unsigned char> bytes = SpaceBytes(db, 4);
    ASSERT_EQ(bytes.size(), 16u + 36u);
    EXPECT_EQ(Words(bytes, 0, 13), (std::vector<std::uint32_t>{0xFFFAEEEBu, 2, 1, 3, 1, 2, 3, 0xFFFFFFFFu,
                                                               0x01020304u, 7, 0x7FFFFFFFu, 0x80000000u, 0}));
    EXPECT_EQ(bytes[32], 0x01);  // most significant byte first
  }
  qvt_Database db = OpenDb();
  EXPECT_EQ((std::vector<int>{db.HandleType(4), db.HandleType(5), db.HandleType(6), db.HandleType(7)}),
            (std::vector<int>{qvt_TypeInt, qvt_TypeFloat, qvt_TypeDouble, qvt_TypeString}));
  qvt_Array<int, 1> ai = db.ArrayInt(qvt_Handle(4), 0, 0);
  qvt_Array<float, 3> af = db.ArrayFloat(qvt_Handle(5), 0, 0);
  qvt_Array<double, 4> ad = db.ArrayDouble(qvt_Handle(6), 0, 0);
  qvt_Array<cow_String, 6> as = db.ArrayString(qvt_Handle(7), 0, 0);
  EXPECT_EQ((std::vector<int>{ai.Type(), ad.FieldCount(), as.FieldCount()}),
            (std::vector<int>{qvt_TypeInt, 3, 1}));
  EXPECT_EQ((std::vector<int>{ai.Length(), af.Length(), ad.Length(), as.Length()}),
            (std::vector<int>{3, 3, 1, 4}));
  std::vector<int> iv(9);
  std::vector<float> fv(3);
  std::vector<double> dv(3);
  std::vector<cow_String> sv(4);
  EXPECT_EQ((std::vector<int>{ai.Read(iv.data(), 10), af.Read(fv.data(), 3), ad.Read(dv.data(), 1),
                              as.Read(sv.data(), 4)}),
            (std::vector<int>{9, 3, 3, 4}));
  EXPECT_EQ(iv, ints);
  EXPECT_EQ(0, std::memcmp(fv.data(), floats.data(), sizeof(float) * 3));  // -0.0 too
  EXPECT_EQ(dv, doubles);
  EXPECT_EQ(sv, strings);
  EXPECT_EQ(ai.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  EXPECT_EQ(ai.SpaceLength(), 16 + 36);
  EXPECT_GE(ai.SpaceAllocation(), ai.SpaceLength());
  // A reader refuses every change and keeps its rows.
  EXPECT_EQ(ai.Flush(), 0);
  QVT_EXPECT_THROW_TEXT(ai.Truncate(1), nex_TextException, "***ERROR: Attempt to truncate read only array.");
  qvt_Array<int, 1> other = db.ArrayInt(qvt_Handle(4), 0, 0);
  QVT_EXPECT_THROW_TEXT(ai.Append(other), nex_TextException,
                        "qvt_ArrayRepr::Append - Attempt to append to read only array.");
  QVT_EXPECT_THROW_TEXT(ai.Write(ints.data(), 1), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(IntArray::CreateCopy(db, db, 4), nex_TextException, kReadOnly);
  EXPECT_EQ(ai.Length(), 3);
}

// The length comes from the space length, reads answer values, a truncation
// keeps the rows asked for and rewinds, a flush counts up and keeps the
// position, and copies of a handle share it.
TEST_P(ArrayTest, RowArithmeticTruncateFlushAndSharedHandles) {
  qvt_Database db = CreateDb();
  qvt_Array<int, 1> a = db.ArrayInt(3, 0, 0);
  EXPECT_EQ((std::vector<int>{a.Length(), a.Location(), a.FieldCount()}), (std::vector<int>{0, 0, 3}));
  EXPECT_EQ(a.Flush(), 1);
  EXPECT_EQ(a.SpaceLength(), 16);
  const int rows[] = {10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51, 52};
  EXPECT_EQ(a.Write(rows, 5), 5);
  EXPECT_EQ((std::vector<int>{a.Length(), a.Location()}), (std::vector<int>{5, 5}));
  qvt_Array<int, 1> b = a;
  b.Seek(0);
  int back[18] = {};
  EXPECT_EQ(a.Read(back, 2), 6);  // values, not rows
  EXPECT_EQ(std::vector<int>(back, back + 7), (std::vector<int>{10, 11, 12, 20, 21, 22, 0}));
  a.Seek(3);
  EXPECT_EQ(b.Location(), 3);
  EXPECT_EQ(b.Flush(), 2);
  EXPECT_EQ(a.Location(), 3);
  EXPECT_EQ(a.SpaceLength(), 16 + 5 * 12);
  EXPECT_EQ(BE32(SpaceBytes(db, a.Handle()), 4), 2u);
  EXPECT_EQ(a.Read(back, 1), 3);
  EXPECT_EQ(back[0], 40);
  EXPECT_EQ(a.Snap(), 0);  // a writer never snaps
  QVT_EXPECT_THROW_TEXT(a.Append(b), nex_AssertException, "&other != this");
  a.Truncate(1);
  EXPECT_EQ((std::vector<int>{a.Length(), a.Location(), static_cast<int>(a.SpaceLength())}),
            (std::vector<int>{1, 0, 16 + 12}));
  a.Seek(1);
  a.Write(rows + 12, 1);
  a.Seek(0);
  EXPECT_EQ(a.Read(back, 3), 6);
  EXPECT_EQ(std::vector<int>(back, back + 6), (std::vector<int>{10, 11, 12, 50, 51, 52}));
  a.Truncate(10);  // a longer length changes nothing but the position
  EXPECT_EQ((std::vector<int>{a.Length(), a.Location()}), (std::vector<int>{2, 0}));
  b = db.ArrayInt(1, 0, 0);
  EXPECT_EQ(b.Handle(), a.Handle() + 1);
}

// Nothing refused leaves an object behind, in this database or in the
// destination of a copy.
TEST_P(ArrayTest, RefusalsNameTheirFault) {
  qvt_Database db = CreateDb();
  qvt_Database dest = CreateDb("dest.odb");
  const qvt_Handle ints = db.ArrayInt(2, 0, 0).Handle();
  StringArray words = db.ArrayString(1, 0, 0);
  const cow_String text = "pooled";
  words.Write(&text, 1);
  words.Flush();
  const struct {
    std::vector<int> words;
    bool copy;  // refused by CreateCopy, else by opening
    std::string message;
  } headers[] = {
      {{kMagic, 0, 1}, false, kCorrupt},
      {{kMagic, 0, 1, 0}, false, kCorrupt},
      {{kMagic, 0, 4, 0x7FFFFFFF}, false, kCorrupt},
      {{static_cast<int>(0xFAAFEBBEu), 0, 1, 1}, false, kOpen + kNotAnArray},
      {{1, 2, 3, 4, 5}, true, "qvt_ArrayRepr::CreateCopy: " + std::string(kNotAnArray)},
      {{kMagic}, true, "qvt_ArrayRepr::CreateCopy: Array read failed. (1)  File may be unusable."},
  };
  for (const auto& h : headers) {
    const qvt_Handle handle = SpaceOfWords(db, h.words);
    if (h.copy) {
      QVT_EXPECT_THROW_TEXT(IntArray::CreateCopy(dest, db, handle), nex_TextException, h.message);
    } else {
      QVT_EXPECT_THROW_TEXT(db.ArrayInt(handle, 0, 0), nex_TextException, h.message);
    }
  }
  const std::pair<std::function<void()>, std::string> refusals[] = {
      {[&] { db.ArrayInt(qvt_Handle(4000), 0, 0); }, kInvalid},
      {[&] { db.ArrayInt(qvt_Handle(0), 0, 0); }, kInvalid},
      {[&] { db.ArrayInt(0, 0, 0); }, BadFieldCount(0)},
      {[&] { db.ArrayDouble(-3, 0, 0); }, BadFieldCount(-3)},
      {[&] { db.ArrayInt(268435456, 0, 0); }, BadFieldCount(268435456)},
      {[&] { db.ArrayInt(ints, 0, 0).Seek(-1); }, "qvt_ArrayRepr::Seek - Invalid row index -1."},
      {[&] { db.ArrayInt(ints, 0, 0).Truncate(-2); }, "qvt_ArrayRepr::Truncate - Invalid row count -2."},
      {[&] { db.ArrayInt(ints, 0, 0).Write(&kMagic, 1 << 30); },
       "qvt_ArrayRepr: Row count 1073741824 is too large for one transfer."},
  };
  for (const auto& r : refusals) QVT_EXPECT_THROW_TEXT(r.first(), nex_TextException, r.second);
  int values[4] = {};
  const std::pair<std::function<void()>, std::string> assertions[] = {
      {[&] { db.ArrayDouble(ints, 0, 0); }, "repr->Type() == type"},
      {[&] { db.ArrayFloat(ints, 0, 0); }, "repr->Type() == type"},
      {[&] { db.ArrayString(ints, 0, 0); }, "repr->Type() == type"},
      {[&] { db.ArrayInt(ints, 0, 0).Write(nullptr, 1); }, "data != NULL"},
      {[&] { db.ArrayInt(ints, 0, 0).Write(values, 0); }, "rowCount > 0"},
      {[&] { db.ArrayInt(ints, 0, 0).Write(values, -1); }, "rowCount > 0"},
      {[&] { db.ArrayDouble(1, 0, 0).Read(nullptr, 1); }, "data != NULL"},
      {[&] { db.ArrayInt(ints, 0, 0).Read(values, 0); }, "rowCount > 0"},
      {[&] { StringArray::CreateCopy(dest, db, words.Handle()); }, "data != qvt_TypeString"},
  };
  for (const auto& a : assertions) QVT_EXPECT_THROW_TEXT(a.first(), nex_AssertException, a.second);
  EXPECT_EQ(db.ArrayInt(ints, 0, 0).SpaceLength(), 16);  // nothing was written
  // A stored type no array holds opens, and every row computation refuses
  // it; an element type no array holds is refused before a handle is used.
  auto* file = dynamic_cast<qvt_DatabaseReprFile*>(db.Repr());
  ASSERT_NE(file, nullptr);
  qvt_ArrayRepr odd(file, SpaceOfWords(db, {kMagic, 0, 5, 2}), 0, 0);
  EXPECT_EQ(static_cast<int>(odd.Type()), 5);
  QVT_EXPECT_THROW_TEXT(odd.RowSize(), nex_TextException, kIllegalType);
  QVT_EXPECT_THROW_TEXT(odd.Length(), nex_TextException, kIllegalType);
  QVT_EXPECT_THROW_TEXT(odd.Seek(1), nex_TextException, kIllegalType);
  QVT_EXPECT_THROW_TEXT(odd.Truncate(0), nex_TextException, kIllegalType);
  const qvt_Handle next = db.Space(-1).Handle();
  QVT_EXPECT_THROW_TEXT(qvt_ArrayRepr(file, qvt_TypeHandle, 1, 0, 0), nex_TextException, kIllegalType);
  EXPECT_EQ(db.ArrayInt(1, 0, 0).Handle(), next + 1);
  EXPECT_EQ(dest.Space(-1).Handle(), 4u);
}

using DoubleArray = qvt_Array<double, 4>;

TEST_P(ArrayTest, AppendTakesEveryRowWithinAndBetweenDatabases) {
  std::vector<cow_String> words;
  for (int i = 0; i < 53; ++i) words.push_back("word" + std::to_string(i % 20));  // repeats, several batches
  words.push_back("");
  {
    qvt_Database source = CreateDb("source.odb");
    IntArray si = source.ArrayInt(1, 0, 64);
    std::vector<int> v(1000);
    std::iota(v.begin(), v.end(), 0);
    si.Write(v.data(), 1000);
    StringArray ss = source.ArrayString(2, 0, 0);
    ss.Write(words.data(), 27);
    // Within one database: every row, wherever the other stands, both
    // flushed on the way.
    qvt_Array<float, 3> to = source.ArrayFloat(2, 0, 0);
    qvt_Array<float, 3> from = source.ArrayFloat(2, 0, 0);
    const float mine[] = {1, 2, 3, 4};
    const float theirs[] = {10, 20, 30, 40, 50, 60};
    to.Write(mine, 2);
    from.Write(theirs, 3);
    from.Seek(2);
    // Copies need the same type and field count.
    EXPECT_EQ((std::vector<int>{to.CopyAllowed(from), to.CopyAllowed(to), to.Repr()->CopyAllowed(*ss.Repr()),
                                si.Repr()->CopyAllowed(*to.Repr()), to.Repr()->CopyAllowed(*si.Repr())}),
              (std::vector<int>{1, 1, 0, 0, 0}));
    to.Append(from);
    EXPECT_EQ((std::vector<int>{to.Length(), from.Length(), to.Flush(), from.Flush()}),
              (std::vector<int>{5, 3, 2, 2}));
    to.Seek(0);
    std::vector<float> back(10);
    EXPECT_EQ(to.Read(back.data(), 5), 10);
    EXPECT_EQ(back, (std::vector<float>{1, 2, 3, 4, 10, 20, 30, 40, 50, 60}));
  }
  {
    qvt_Database source = OpenDb("source.odb");
    qvt_Database dest = CreateDb("dest.odb");
    IntArray di = dest.ArrayInt(1, 0, 48);
    const int head = -5;
    di.Write(&head, 1);
    StringArray ds = dest.ArrayString(2, 0, 0);
    const cow_String first[] = {"zero", "word3"};
    ds.Write(first, 1);
    IntArray si = source.ArrayInt(qvt_Handle(4), 0, 0);
    StringArray ss = source.ArrayString(qvt_Handle(5), 0, 0);
    di.Append(si);  // the other is read-only: only this one is flushed
    ds.Append(ss);
    ds.Append(ss);
    EXPECT_EQ((std::vector<int>{di.Length(), ds.Length()}), (std::vector<int>{1001, 55}));
    EXPECT_EQ(ss.SpaceLength(), 16 + 27 * 16);  // the source is untouched
  }
  qvt_Database dest = OpenDb("dest.odb");
  IntArray di = dest.ArrayInt(qvt_Handle(4), 0, 0);
  StringArray ds = dest.ArrayString(qvt_Handle(5), 0, 0);
  std::vector<int> bi(1001);
  EXPECT_EQ(di.Read(bi.data(), 1001), 1001);
  EXPECT_EQ(bi[0], -5);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(bi[static_cast<std::size_t>(i) + 1], i);
  std::vector<cow_String> bs(110);
  EXPECT_EQ(ds.Read(bs.data(), 56), 110);
  EXPECT_EQ((std::vector<cow_String>(bs.begin(), bs.begin() + 2)),
            (std::vector<cow_String>{"zero", "word3"}));
  EXPECT_EQ(std::vector<cow_String>(bs.begin() + 2, bs.begin() + 56), words);
  EXPECT_EQ(std::vector<cow_String>(bs.begin() + 56, bs.end()), words);
}

// Appending from another object on the same space moves the rows that were
// there when the append began, once: it never chases its own writes. Run in
// a child whose files cannot grow past 4 MiB, so that an append that did
// would fail there instead of filling the disk.
TEST_P(ArrayTest, AppendFromAnotherObjectOnTheSameSpaceDoublesOnce) {
  const ChildResult result = RunChild([this] {
    if (!LimitFileSize(4 << 20)) return 2;
    qvt_Database db = CreateDb();
    StringArray words = db.ArrayString(1, 0, 0);
    std::vector<cow_String> values;
    for (int i = 0; i < 300; ++i) values.push_back("w" + std::to_string(i % 17));  // several string batches
    words.Write(values.data(), 300);
    words.Flush();
    StringArray same = db.ArrayString(words.Handle(), 0, 0);
    words.Append(same);
    std::vector<cow_String> back(600);
    words.Seek(0);
    const int got = words.Read(back.data(), 600);
    std::vector<cow_String> twice = values;
    twice.insert(twice.end(), values.begin(), values.end());
    std::printf("length %d, read %d, %s\n", words.Length(), got,
                back == twice ? "each row twice" : "other rows");
    return 0;
  });
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "length 600, read 600, each row twice\n");
}

// Copies arrays of several sizes (one chunk, exactly one chunk, several
// chunks with a short last one), into another database and into the same
// one, and compares every stored byte.
TEST_P(ArrayTest, CreateCopyEqualsSourceButForFlushCount) {
  qvt_Database source = CreateDb("source.odb");
  qvt_Database dest = CreateDb("dest.odb");
  for (int values : {3, (1048576 - 16) / 8, 300000}) {
    for (qvt_Database* to : {&dest, &source}) {
      if (to == &source && values > 3) continue;
      DoubleArray a = source.ArrayDouble(1, 0, 0);
      std::vector<double> v(static_cast<std::size_t>(values));
      for (int i = 0; i < values; ++i) v[static_cast<std::size_t>(i)] = i * 0.25;
      a.Write(v.data(), values);
      a.Flush();
      a.Flush();
      const qvt_Handle copy = DoubleArray::CreateCopy(*to, source, a.Handle());
      EXPECT_NE(copy, to == &source ? a.Handle() : 0u);
      std::vector<unsigned char> original = SpaceBytes(source, a.Handle());
      const std::vector<unsigned char> copied = SpaceBytes(*to, copy);
      EXPECT_EQ((std::vector<std::uint32_t>{BE32(original, 4), BE32(copied, 4)}),
                (std::vector<std::uint32_t>{2, 0}));
      original[7] = 0;
      EXPECT_TRUE(original == copied) << values << " values";
      EXPECT_EQ(to->ArrayDouble(copy, 0, 0).Length(), values);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
