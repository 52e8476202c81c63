// Typed arrays on each file kind: bytes, a seeded model, cut rows, refusals and Append.
#include "qvt_Array.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <random>

#include "qvt_ArrayRepr.h"
#include "qvt_ChildProcess.h"
#include "qvt_ObjectShapes.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TablesFixture.h"

using namespace qvt_test;

namespace {

const std::string kOpen = "qvt_ArrayRepr::qvt_ArrayRepr: ";
const char kNotAnArray[] = "Handle is not to an Array object in ODB/CAE file.  File may be unusable.";
const char kIllegalType[] = "qvt_ArrayRepr::RowSize - illegal array type.";

using IntArray = qvt_Array<int, 1>;
using StringArray = qvt_Array<cow_String, 6>;

class ArrayTest : public DatabaseKindTest {};

// Byte for byte as the flush count counts up; a reader refuses every change.
TEST_P(ArrayTest, HeaderAndRowsAreStoredBigEndianAndReadersRefuseChanges) {
  const std::vector<int> ints = {
      1, 2, 3, -1, 0x01020304, 7, std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), 0};
  {
    qvt_Database db = CreateDb();
    IntArray ai = db.ArrayInt(3, 64, 0);
    EXPECT_EQ((std::vector<int>{ai.Write(ints.data(), 2), ai.RowSize(), ai.Flush()}),
              (std::vector<int>{2, 12, 1}));
    ai.Write(ints.data() + 6, 1);
    EXPECT_EQ(ai.Flush(), 2);
    db.Flush();
    const std::vector<unsigned char> bytes = SpaceBytes(db, 4);
    ASSERT_EQ(bytes.size(), 16u + 36u);
    EXPECT_EQ(Words(bytes, 0, 13), (std::vector<std::uint32_t>{0xFFFAEEEBu, 2, 1, 3, 1, 2, 3, 0xFFFFFFFFu,
                                                               0x01020304u, 7, 0x7FFFFFFFu, 0x80000000u, 0}));
  }
  qvt_Database db = OpenDb();
  IntArray ai = db.ArrayInt(qvt_Handle(4), 0, 0);
  std::vector<int> iv(9);
  EXPECT_EQ((std::vector<int>{db.HandleType(4), ai.Type(), ai.FieldCount(), ai.Length(),
                              ai.Read(iv.data(), 10), ai.Flush(), static_cast<int>(ai.SpaceLength())}),
            (std::vector<int>{qvt_TypeInt, qvt_TypeInt, 3, 3, 9, 0, 16 + 36}));
  EXPECT_EQ(iv, ints);
  EXPECT_EQ(ai.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  EXPECT_GE(ai.SpaceAllocation(), ai.SpaceLength());
  ExpectRefusals({{[&] { ai.Truncate(1); }, "***ERROR: Attempt to truncate read only array."},
                  {[&] { ai.Append(ai); }, "qvt_ArrayRepr::Append - Attempt to append to read only array."},
                  {[&] { ai.Write(ints.data(), 1); }, kReadOnly},
                  {[&] { IntArray::CreateCopy(db, db, 4); }, kReadOnly}});
  EXPECT_EQ(ai.Length(), 3);
}

// 1 to big one time in often, else 1 to small (two statements: builds order two calls differently).
int TransferSize(std::mt19937& rng, unsigned often, unsigned big, unsigned small) {
  const unsigned draw = static_cast<unsigned>(rng());
  const bool isLong = rng() % often == 0;
  return 1 + static_cast<int>(draw % (isLong ? big : small));
}

// Seeded operations against a model, then reopened and copied; scale lengthens long transfers.
template <class T>
void RunModel(const DatabaseFiles& files, qvt_Type type, int fc, int bufferSize, unsigned seed, int scale = 1,
              std::size_t minBytes = 0) {
  SCOPED_TRACE("seed " + std::to_string(seed) + ", buffer " + std::to_string(bufferSize));
  std::mt19937 rng(seed);
  const auto values = [fc](std::size_t rows) { return rows * static_cast<std::size_t>(fc); };
  std::vector<T> model;      // every stored value, row after row
  std::size_t position = 0;  // in rows
  qvt_Handle handle;
  {
    auto db = files.Create();
    qvt_ArrayRepr a(db.get(), type, fc, 0, bufferSize);
    handle = a.Handle();
    for (int step = 0; step < 400; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      // Another object placed behind the array makes its space a chain.
      if (step == 25) std::unique_ptr<qvt_SpaceRepr>(db->Space(-1))->WriteInt(5);
      const std::size_t rows = model.size() / static_cast<std::size_t>(fc);
      const int op = static_cast<int>(rng() % 10);
      if (op < 4) {
        const int count = TransferSize(rng, 4, 700 * scale, 20);
        std::vector<T> written(values(static_cast<std::size_t>(count)));
        for (T& v : written) v = static_cast<T>(static_cast<int>(rng() % 100000) - 50000) / 4;
        ASSERT_EQ(a.Write(written.data(), count), count);
        if (model.size() < values(position) + written.size()) model.resize(values(position) + written.size());
        std::copy(written.begin(), written.end(),
                  model.begin() + static_cast<std::ptrdiff_t>(values(position)));
        position += static_cast<std::size_t>(count);
      } else if (op < 7) {
        const int count = TransferSize(rng, 3, 900 * scale, 30);
        std::vector<T> back(values(static_cast<std::size_t>(count)) + 1, static_cast<T>(-7));
        const std::size_t expected =
            std::min(values(rows - position), values(static_cast<std::size_t>(count)));
        ASSERT_EQ(a.Read(back.data(), count), static_cast<int>(expected));  // values, not rows
        for (std::size_t i = 0; i < expected; ++i) ASSERT_EQ(back[i], model[values(position) + i]);
        ASSERT_EQ(back[expected], static_cast<T>(-7));  // nothing beyond is touched
        position += expected / static_cast<std::size_t>(fc);
      } else if (op < 9) {
        position = rows == 0 ? 0 : rng() % (rows + 1);
        a.Seek(static_cast<int>(position));
      } else if (rng() % 4 == 0) {
        const std::size_t keep = rng() % (rows + 3);
        a.Truncate(static_cast<int>(keep));
        model.resize(std::min(model.size(), values(keep)));
        position = 0;
      } else {
        a.Flush();
      }
      ASSERT_EQ((std::vector<int>{a.Length(), a.Location()}),
                (std::vector<int>{static_cast<int>(model.size()) / fc, static_cast<int>(position)}));
    }
    a.Flush();
  }
  auto db = files.Open("test.odb", false);
  qvt_ArrayRepr a(db.get(), handle, 0, bufferSize);
  const int rows = static_cast<int>(model.size()) / fc;
  ASSERT_EQ(a.Length(), rows);
  std::vector<T> back(model.size() + 1);
  ASSERT_EQ(rows > 0 ? a.Read(back.data(), rows + 1) : 0, static_cast<int>(model.size()));
  back.pop_back();
  EXPECT_TRUE(back == model);
  // A copy, here or in another database, holds the same bytes but its own flush count.
  auto other = files.Create("copy.odb");
  std::vector<unsigned char> bytes = ObjectBytes(*db, handle);
  EXPECT_GT(BE32(bytes, 4), 1u);
  EXPECT_GE(bytes.size(), minBytes);
  bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0;
  EXPECT_TRUE(ObjectBytes(*other, qvt_ArrayRepr::CreateCopy(*other, *db, handle)) == bytes);
  const qvt_Handle same = qvt_ArrayRepr::CreateCopy(*db, *db, handle);
  EXPECT_NE(same, handle);
  EXPECT_TRUE(ObjectBytes(*db, same) == bytes);
}

TEST_P(ArrayTest, RandomOperationsMatchTheModel) {
  unsigned seed = 20240601;
  RunModel<int>(Files(), qvt_TypeInt, 1, 8, seed++);
  RunModel<int>(DatabaseFiles(GetParam()), qvt_TypeInt, 3, 20, seed++);
  RunModel<float>(DatabaseFiles(GetParam()), qvt_TypeFloat, 2, 0, seed++);
  RunModel<double>(DatabaseFiles(GetParam()), qvt_TypeDouble, 1, 16, seed++);
  RunModel<double>(DatabaseFiles(GetParam()), qvt_TypeDouble, 5, 64, seed++);
  RunModel<int>(DatabaseFiles(GetParam()), qvt_TypeInt, 4, 4096, seed++);
  // Direct reads in steps past a 64 KiB block; this seed leaves over 1 MiB to copy.
  RunModel<double>(DatabaseFiles(GetParam()), qvt_TypeDouble, 4, 65536, 20240709, 10, 1 << 20);
}

// A file ending mid-row, then mid-value: whole rows counted, whole values read.
TEST_P(ArrayTest, PartialLastRowDeliversItsWholeValues) {
  auto db = Files().Create();
  qvt_ArrayRepr a(db.get(), qvt_TypeInt, 3, 0, 0);
  const int v[] = {1, 2, 3};
  a.Write(v, 1);
  a.Flush();
  {
    std::unique_ptr<qvt_SpaceRepr> space(db->Space(a.Handle(), -1));
    space->Seek(space->Length());
    space->WriteIntArray(v, 2);
    space->Write("xy", 2);
  }
  for (int bufferSize : {0, 8, 64}) {
    qvt_ArrayRepr b(db.get(), a.Handle(), 0, bufferSize);
    std::vector<int> back(12, -1);
    EXPECT_EQ((std::vector<int>{b.Length(), b.Read(back.data(), 3), b.Location(), b.Read(&back[6], 3)}),
              (std::vector<int>{2, 5, 2, 0}));
    EXPECT_EQ(std::vector<int>(back.begin(), back.begin() + 6), (std::vector<int>{1, 2, 3, 1, 2, -1}));
    b.Seek(5);
    QVT_EXPECT_THROW_TEXT(
        b.Read(back.data(), 1), nex_TextException,
        "***ERROR: Invalid seek offset: 76.000000.  This is usually caused by depletion of free "
        "space on the filesystem on which the ODB file is being built.");
  }
}

// Nothing refused leaves an object behind, here or in a copy's destination.
TEST_P(ArrayTest, RefusalsNameTheirFault) {
  qvt_Database db = CreateDb();
  qvt_Database dest = CreateDb("dest.odb");
  const qvt_Handle intsHandle = db.ArrayInt(2, 0, 0).Handle();
  IntArray ints = db.ArrayInt(intsHandle, 0, 0);
  const std::string corrupt = kOpen + "Array object in ODB/CAE file is corrupt.  File may be unusable.";
  int values[4] = {};
  ExpectRefusals(
      {{[&, h = SpaceOfWords(db, {kArrayMagic, 0, 1})] { db.ArrayInt(h, 0, 0); }, corrupt},
       {[&, h = SpaceOfWords(db, {kArrayMagic, 0, 1, 0})] { db.ArrayInt(h, 0, 0); }, corrupt},
       {[&, h = SpaceOfWords(db, {kArrayMagic, 0, 4, 0x7FFFFFFF})] { db.ArrayInt(h, 0, 0); }, corrupt},
       {[&, h = SpaceOfWords(db, {kStreamMagic, 0, 1, 1})] { db.ArrayInt(h, 0, 0); }, kOpen + kNotAnArray},
       {[&, h = SpaceOfWords(db, {1, 2, 3, 4, 5})] { IntArray::CreateCopy(dest, db, h); },
        "qvt_ArrayRepr::CreateCopy: " + std::string(kNotAnArray)},
       {[&, h = SpaceOfWords(db, {kArrayMagic})] { IntArray::CreateCopy(dest, db, h); },
        "qvt_ArrayRepr::CreateCopy: Array read failed. (1)  File may be unusable."},
       {[&, h = SpaceOfWords(db, {kArrayMagic, 0, qvt_TypeString, 1})] { IntArray::CreateCopy(dest, db, h); },
        "data != qvt_TypeString"},
       {[&] { db.ArrayDouble(intsHandle, 0, 0); }, "repr->Type() == type"},
       {[&] { ints.Seek(-1); }, "qvt_ArrayRepr::Seek - Invalid row index -1."},
       {[&] { ints.Truncate(-2); }, "qvt_ArrayRepr::Truncate - Invalid row count -2."},
       {[&] { ints.Write(&kArrayMagic, 1 << 30); },
        "qvt_ArrayRepr: Row count 1073741824 is too large for one transfer."},
       {[&] { ints.Append(ints); }, "&other != this"},
       {[&] { ints.Write(nullptr, 1); }, "data != NULL"},
       {[&] { ints.Write(values, 0); }, "rowCount > 0"},
       {[&] { ints.Write(values, -1); }, "rowCount > 0"}});
  EXPECT_EQ(ints.SpaceLength(), 16);  // nothing was written
  // A stored type no array holds opens, but every row computation refuses it.
  auto* file = dynamic_cast<qvt_DatabaseReprFile*>(db.Repr());
  ASSERT_NE(file, nullptr);
  qvt_ArrayRepr odd(file, SpaceOfWords(db, {kArrayMagic, 0, 5, 2}), 0, 0);
  EXPECT_EQ(static_cast<int>(odd.Type()), 5);
  const qvt_Handle next = db.Space(-1).Handle();
  ExpectRefusals(
      {{[&] { odd.RowSize(); }, kIllegalType},
       {[&] { odd.Length(); }, kIllegalType},
       {[&] { qvt_ArrayRepr(file, qvt_TypeHandle, 1, 0, 0); }, kIllegalType},
       {[&] { db.ArrayInt(0, 0, 0); }, kOpen + "Invalid field count 0; a row holds 1 to 268435455 values."},
       {[&] { db.ArrayInt(268435456, 0, 0); },
        kOpen + "Invalid field count 268435456; a row holds 1 to 268435455 values."}});
  EXPECT_EQ(db.ArrayInt(1, 0, 0).Handle(), next + 1);
  EXPECT_EQ(dest.Space(-1).Handle(), 4u);
}

// Every row of the other comes, wherever it stands; both are flushed.
TEST_P(ArrayTest, AppendTakesEveryRowOfTheOther) {
  qvt_Database db = CreateDb();
  auto to = db.ArrayFloat(2, 0, 0);
  auto from = db.ArrayFloat(2, 0, 0);
  const float floats[] = {1, 2, 3, 4, 10, 20, 30, 40, 50, 60};
  to.Write(floats, 2);
  from.Write(floats + 4, 3);
  from.Seek(2);
  IntArray ints = db.ArrayInt(2, 0, 0);
  StringArray strings = db.ArrayString(2, 0, 0);
  EXPECT_EQ((std::vector<int>{to.CopyAllowed(from), to.CopyAllowed(to), to.Repr()->CopyAllowed(*ints.Repr()),
                              ints.Repr()->CopyAllowed(*strings.Repr()),
                              to.Repr()->CopyAllowed(*db.ArrayFloat(1, 0, 0).Repr())}),
            (std::vector<int>{1, 1, 0, 0, 0}));
  to.Append(from);
  EXPECT_EQ((std::vector<int>{to.Length(), from.Length(), to.Flush(), from.Flush()}),
            (std::vector<int>{5, 3, 2, 2}));
  to.Seek(0);
  std::vector<float> back(10);
  EXPECT_EQ(to.Read(back.data(), 5), 10);
  EXPECT_EQ(back, std::vector<float>(floats, floats + 10));
}

// An append from its own space doubles once (files stop at 4 MiB, not the disk, if it chased its writes).
TEST_P(ArrayTest, StringAppendsDoubleOnceAndPoolAgainInAnotherDatabase) {
  const ChildResult result = RunChild([this] {
    if (!LimitFileSize(4 << 20)) return 2;
    std::vector<cow_String> words;
    for (int i = 0; i < 300; ++i) words.push_back("w" + std::to_string(i % 17));  // several batches
    words.push_back("");
    {
      qvt_Database source = CreateDb("source.odb");
      StringArray written = source.ArrayString(1, 0, 0);
      written.Write(words.data(), 301);
      written.Flush();
      StringArray same = source.ArrayString(written.Handle(), 0, 0);
      written.Append(same);
    }
    qvt_Database source = OpenDb("source.odb");
    qvt_Database dest = CreateDb("dest.odb");
    StringArray from = source.ArrayString(qvt_Handle(4), 0, 0);
    StringArray to = dest.ArrayString(1, 0, 0);
    const cow_String first = "zero";
    to.Write(&first, 1);
    to.Append(from);
    std::vector<cow_String> back(604);
    to.Seek(0);
    const int got = to.Read(back.data(), 604);
    std::vector<cow_String> expected = {"zero"};
    for (int twice = 0; twice < 2; ++twice) expected.insert(expected.end(), words.begin(), words.end());
    back.resize(603);
    std::printf("length %d, read %d, %s, source %d\n", to.Length(), got,
                back == expected ? "each row twice" : "other rows", static_cast<int>(from.SpaceLength()));
    return 0;
  });
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_EQ(result.out,
            "length 603, read 603, each row twice, source " + std::to_string(16 + 602 * 8) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
