// Moving rows between arrays: Append within one database and between two
// (strings re-entered in the receiving pool), CopyAllowed, and CreateCopy of
// the stored bytes in chunks, refused for string arrays.
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_Array.h"
#include "qvt_ArrayRepr.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

using IntArray = qvt_Array<int, 1>;
using DoubleArray = qvt_Array<double, 4>;
using StringArray = qvt_Array<cow_String, 6>;

class ArrayCopyTest : public DatabaseKindTest {};

TEST_P(ArrayCopyTest, AppendTakesEveryRowWithinAndBetweenDatabases) {
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
  EXPECT_EQ((std::vector<cow_String>(bs.begin(), bs.begin() + 2)), (std::vector<cow_String>{"zero", "word3"}));
  EXPECT_EQ(std::vector<cow_String>(bs.begin() + 2, bs.begin() + 56), words);
  EXPECT_EQ(std::vector<cow_String>(bs.begin() + 56, bs.end()), words);
}

// Appending from another object on the same space moves the rows that were
// there when the append began, once: it never chases its own writes. Run in
// a child whose files cannot grow past 4 MiB, so that an append that did
// would fail there instead of filling the disk.
TEST_P(ArrayCopyTest, AppendFromAnotherObjectOnTheSameSpaceDoublesOnce) {
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
    std::printf("length %d, read %d, %s\n", words.Length(), got, back == twice ? "each row twice" : "other rows");
    return 0;
  });
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "length 600, read 600, each row twice\n");
}

// Copies arrays of several sizes (one chunk, exactly one chunk, several
// chunks with a short last one), into another database and into the same
// one, and compares every stored byte.
TEST_P(ArrayCopyTest, CreateCopyEqualsSourceButForFlushCount) {
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
      EXPECT_EQ((std::vector<std::uint32_t>{BE32(original, 4), BE32(copied, 4)}), (std::vector<std::uint32_t>{2, 0}));
      original[7] = 0;
      EXPECT_TRUE(original == copied) << values << " values";
      EXPECT_EQ(to->ArrayDouble(copy, 0, 0).Length(), values);
    }
  }
}

TEST_P(ArrayCopyTest, CreateCopyRefusesWhatItCannotCopy) {
  qvt_Database source = CreateDb("source.odb");
  qvt_Database dest = CreateDb("dest.odb");
  StringArray s = source.ArrayString(1, 0, 0);
  const cow_String text = "pooled";
  s.Write(&text, 1);
  s.Flush();
  QVT_EXPECT_THROW_TEXT(StringArray::CreateCopy(dest, source, s.Handle()), nex_AssertException,
                        "data != qvt_TypeString");
  qvt_Space plain = source.Space(-1);
  for (int w : {1, 2, 3, 4, 5}) plain.WriteInt(w);
  QVT_EXPECT_THROW_TEXT(
      IntArray::CreateCopy(dest, source, plain.Handle()), nex_TextException,
      "qvt_ArrayRepr::CreateCopy: Handle is not to an Array object in ODB/CAE file.  File may be unusable.");
  qvt_Space tiny = source.Space(-1);
  tiny.WriteInt(static_cast<int>(0xFFFAEEEBu));
  QVT_EXPECT_THROW_TEXT(IntArray::CreateCopy(dest, source, tiny.Handle()), nex_TextException,
                        "qvt_ArrayRepr::CreateCopy: Array read failed. (1)  File may be unusable.");
  // Nothing refused left an object behind in the destination.
  EXPECT_EQ(dest.Space(-1).Handle(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayCopyTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
