// Moving rows between arrays: Append within one database and between two
// (strings re-entered in the receiving pool), CopyAllowed, and CreateCopy of
// the stored bytes in chunks, refused for string arrays.
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_ArrayRepr.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

using Db = std::unique_ptr<qvt_DatabaseReprFile>;
using Array = std::unique_ptr<qvt_ArrayRepr>;

Array NewArray(qvt_DatabaseReprFile& db, qvt_Type type, int fieldCount, int bufferSize = 0) {
  return std::make_unique<qvt_ArrayRepr>(&db, type, fieldCount, 0, bufferSize);
}
Array OpenArray(qvt_DatabaseReprFile& db, qvt_Handle handle) {
  return std::make_unique<qvt_ArrayRepr>(&db, handle, 0, 0);
}

class ArrayCopyTest : public KindTest {};

TEST_P(ArrayCopyTest, AppendAddsEveryRowOfTheOther) {
  Db db = Files().Create();
  Array to = NewArray(*db, qvt_TypeFloat, 2);
  Array from = NewArray(*db, qvt_TypeFloat, 2);
  const float mine[] = {1, 2, 3, 4};
  const float theirs[] = {10, 20, 30, 40, 50, 60};
  to->Write(mine, 2);
  from->Write(theirs, 3);
  from->Seek(2);  // Append takes every row, wherever the other stands
  to->Append(*from);
  EXPECT_EQ(to->Length(), 5);
  EXPECT_EQ(from->Length(), 3);
  // Both were flushed on the way.
  EXPECT_EQ(to->Flush(), 2);
  EXPECT_EQ(from->Flush(), 2);
  to->Seek(0);
  std::vector<float> back(10);
  EXPECT_EQ(to->Read(back.data(), 5), 10);
  EXPECT_EQ(back, (std::vector<float>{1, 2, 3, 4, 10, 20, 30, 40, 50, 60}));
}

TEST_P(ArrayCopyTest, AppendBetweenDatabasesCarriesValuesAndStrings) {
  qvt_Handle ints, strings;
  std::vector<cow_String> words;
  for (int i = 0; i < 53; ++i) words.push_back("word" + std::to_string(i % 20));  // repeats, several batches
  words.push_back("");
  {
    Db source = Files().Create("source.odb");
    Array si = NewArray(*source, qvt_TypeInt, 1, 64);
    std::vector<int> v(1000);
    std::iota(v.begin(), v.end(), 0);
    si->Write(v.data(), 1000);
    Array ss = NewArray(*source, qvt_TypeString, 2);
    ss->Write(words.data(), 27);
    si->Flush();
    ss->Flush();
    ints = si->Handle();
    strings = ss->Handle();
  }
  {
    Db source = Files().Open("source.odb");
    Db dest = Files().Create("dest.odb");
    Array di = NewArray(*dest, qvt_TypeInt, 1, 48);
    const int head = -5;
    di->Write(&head, 1);
    Array ds = NewArray(*dest, qvt_TypeString, 2);
    const cow_String first[] = {"zero", "word3"};
    ds->Write(first, 1);
    Array si = OpenArray(*source, ints);
    Array ss = OpenArray(*source, strings);
    di->Append(*si);  // the other is read-only: only this one is flushed
    ds->Append(*ss);
    EXPECT_EQ(di->Length(), 1001);
    EXPECT_EQ(ds->Length(), 28);
    di->Flush();
    ds->Flush();
    dest->Flush();
  }
  // The source is untouched and the destination reads back on its own.
  EXPECT_EQ(ObjectBytes(*Files().Open("source.odb"), strings).size(), 16u + 27u * 16u);
  Db dest = Files().Open("dest.odb");
  Array di = OpenArray(*dest, 4);
  Array ds = OpenArray(*dest, 5);
  std::vector<int> bi(1001);
  EXPECT_EQ(di->Read(bi.data(), 1001), 1001);
  EXPECT_EQ(bi[0], -5);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(bi[static_cast<std::size_t>(i) + 1], i);
  std::vector<cow_String> bs(56);
  EXPECT_EQ(ds->Read(bs.data(), 28), 56);
  EXPECT_EQ(bs[0], "zero");
  EXPECT_EQ(bs[1], "word3");
  EXPECT_EQ(std::vector<cow_String>(bs.begin() + 2, bs.end()), words);
}

TEST_P(ArrayCopyTest, CopyAllowedNeedsSameTypeAndFieldCount) {
  Db db = Files().Create();
  Array i2 = NewArray(*db, qvt_TypeInt, 2);
  Array i2b = NewArray(*db, qvt_TypeInt, 2);
  Array i3 = NewArray(*db, qvt_TypeInt, 3);
  Array f2 = NewArray(*db, qvt_TypeFloat, 2);
  EXPECT_EQ(i2->CopyAllowed(*i2b), 1);
  EXPECT_EQ(i2->CopyAllowed(*i2), 1);
  EXPECT_EQ(i2->CopyAllowed(*i3), 0);
  EXPECT_EQ(i2->CopyAllowed(*f2), 0);
  EXPECT_EQ(f2->CopyAllowed(*i2), 0);
}

// Appending from another object on the same space moves the rows that were
// there when the append began, once: it never chases its own writes. Run in
// a child whose files cannot grow past 4 MiB, so that an append that did
// would fail there instead of filling the disk.
TEST_P(ArrayCopyTest, AppendFromAnotherObjectOnTheSameSpaceDoublesOnce) {
  const ChildResult result = RunChild([this] {
    if (!LimitFileSize(4 << 20)) return 2;
    Db db = Files().Create();
    Array words = NewArray(*db, qvt_TypeString, 1);
    std::vector<cow_String> values;
    for (int i = 0; i < 300; ++i) values.push_back("w" + std::to_string(i % 17));  // several string batches
    words->Write(values.data(), 300);
    words->Flush();
    Array same = OpenArray(*db, words->Handle());
    words->Append(*same);
    std::vector<cow_String> back(600);
    words->Seek(0);
    const int got = words->Read(back.data(), 600);
    std::vector<cow_String> twice = values;
    twice.insert(twice.end(), values.begin(), values.end());
    std::printf("length %d, read %d, %s\n", words->Length(), got, back == twice ? "each row twice" : "other rows");
    return 0;
  });
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out, "length 600, read 600, each row twice\n");
}

// Copies arrays of several sizes (one chunk, exactly one chunk, several
// chunks with a short last one) and compares every stored byte.
TEST_P(ArrayCopyTest, CreateCopyEqualsSourceButForFlushCount) {
  Db source = Files().Create("source.odb");
  Db dest = Files().Create("dest.odb");
  for (int values : {3, (1048576 - 16) / 8, 300000}) {
    Array a = NewArray(*source, qvt_TypeDouble, 1);
    std::vector<double> v(static_cast<std::size_t>(values));
    for (int i = 0; i < values; ++i) v[static_cast<std::size_t>(i)] = i * 0.25;
    a->Write(v.data(), values);
    a->Flush();
    a->Flush();
    const qvt_Handle copy = qvt_ArrayRepr::CreateCopy(*dest, *source, a->Handle());
    std::vector<unsigned char> original = ObjectBytes(*source, a->Handle());
    const std::vector<unsigned char> copied = ObjectBytes(*dest, copy);
    ASSERT_EQ(copied.size(), original.size());
    EXPECT_EQ(BE32(original, 4), 2u);
    EXPECT_EQ(BE32(copied, 4), 0u);
    original[7] = 0;
    EXPECT_TRUE(original == copied) << values << " values";
    Array back = OpenArray(*dest, copy);
    EXPECT_EQ(back->Length(), values);
  }
  // A copy into the same database works the same way.
  Array a = NewArray(*source, qvt_TypeInt, 4);
  const int row[] = {1, 2, 3, 4};
  a->Write(row, 1);
  a->Flush();
  const qvt_Handle self = qvt_ArrayRepr::CreateCopy(*source, *source, a->Handle());
  EXPECT_NE(self, a->Handle());
  EXPECT_EQ(OpenArray(*source, self)->FieldCount(), 4);
}

TEST_P(ArrayCopyTest, CreateCopyRefusesWhatItCannotCopy) {
  Db source = Files().Create("source.odb");
  Db dest = Files().Create("dest.odb");
  Array s = NewArray(*source, qvt_TypeString, 1);
  const cow_String text = "pooled";
  s->Write(&text, 1);
  s->Flush();
  QVT_EXPECT_THROW_TEXT(qvt_ArrayRepr::CreateCopy(*dest, *source, s->Handle()), nex_AssertException,
                        "data != qvt_TypeString");

  std::unique_ptr<qvt_SpaceRepr> plain(source->Space(-1));
  const int words[] = {1, 2, 3, 4, 5};
  plain->WriteIntArray(words, 5);
  QVT_EXPECT_THROW_TEXT(
      qvt_ArrayRepr::CreateCopy(*dest, *source, plain->Handle()), nex_TextException,
      "qvt_ArrayRepr::CreateCopy: Handle is not to an Array object in ODB/CAE file.  File may be unusable.");
  std::unique_ptr<qvt_SpaceRepr> tiny(source->Space(-1));
  tiny->WriteInt(static_cast<int>(0xFFFAEEEBu));
  QVT_EXPECT_THROW_TEXT(qvt_ArrayRepr::CreateCopy(*dest, *source, tiny->Handle()), nex_TextException,
                        "qvt_ArrayRepr::CreateCopy: Array read failed. (1)  File may be unusable.");
  // Nothing refused left an object behind in the destination.
  EXPECT_FALSE(dest->IsValidHandle(4));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayCopyTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
