// The public array handles through qvt_Database: creating and opening the
// four kinds, the element-type check, shared handles, copies and appends
// between databases, and a reader process picking up a writer's flushes.
#include "qvt_Array.h"

#include <cstring>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

class ArrayTest : public DatabaseKindTest {};

// Every stored value comes back bit for bit: extreme ints, a negative zero,
// the largest float, a denormal double, empty and repeated strings and one
// holding a zero byte.
TEST_P(ArrayTest, DatabaseCreatesAndReopensEachKind) {
  const std::vector<int> ints = {1, 2, 2147483647, -2147483647 - 1};
  const std::vector<float> floats = {0.5f, -0.0f, 3.4e38f};
  const std::vector<double> doubles = {1e100, -4.9e-324, 3.0};
  const std::vector<cow_String> strings = {"x", "", std::string("a\0b", 3), "x"};
  qvt_Handle hi, hf, hd, hs;
  {
    qvt_Database db = CreateDb();
    qvt_Array<int, 1> ai = db.ArrayInt(2, 64, 0);
    qvt_Array<float, 3> af = db.ArrayFloat(1, 0, 16);
    qvt_Array<double, 4> ad = db.ArrayDouble(3, -1, 0);
    qvt_Array<cow_String, 6> as = db.ArrayString(1, 0, 0);
    EXPECT_EQ(ai.Write(ints.data(), 2), 2);
    EXPECT_EQ(af.Write(floats.data(), 3), 3);
    EXPECT_EQ(ad.Write(doubles.data(), 1), 1);
    EXPECT_EQ(as.Write(strings.data(), 4), 4);
    EXPECT_EQ(ai.RowSize(), 8);
    EXPECT_EQ(ad.RowSize(), 24);
    EXPECT_EQ(as.RowSize(), 8);
    hi = ai.Handle();
    hf = af.Handle();
    hd = ad.Handle();
    hs = as.Handle();
    EXPECT_EQ(hi, 4u);
    EXPECT_EQ(hs, 7u);
    EXPECT_EQ(ai.Flush() + af.Flush() + ad.Flush() + as.Flush(), 4);
    db.Flush();
  }
  qvt_Database db = OpenDb();
  EXPECT_EQ(db.HandleType(hi), qvt_TypeInt);
  EXPECT_EQ(db.HandleType(hf), qvt_TypeFloat);
  EXPECT_EQ(db.HandleType(hd), qvt_TypeDouble);
  EXPECT_EQ(db.HandleType(hs), qvt_TypeString);
  qvt_Array<int, 1> ai = db.ArrayInt(hi, 0, 0);
  qvt_Array<float, 3> af = db.ArrayFloat(hf, 0, 0);
  qvt_Array<double, 4> ad = db.ArrayDouble(hd, 0, 0);
  qvt_Array<cow_String, 6> as = db.ArrayString(hs, 0, 0);
  EXPECT_EQ(ai.Type(), qvt_TypeInt);
  EXPECT_EQ(af.Type(), qvt_TypeFloat);
  EXPECT_EQ(ad.FieldCount(), 3);
  EXPECT_EQ(as.FieldCount(), 1);
  EXPECT_EQ(ai.Length(), 2);
  EXPECT_EQ(af.Length(), 3);
  EXPECT_EQ(ad.Length(), 1);
  EXPECT_EQ(as.Length(), 4);
  std::vector<int> iv(4);
  std::vector<float> fv(3);
  std::vector<double> dv(3);
  std::vector<cow_String> sv(4);
  EXPECT_EQ(ai.Read(iv.data(), 10), 4);
  EXPECT_EQ(af.Read(fv.data(), 3), 3);
  EXPECT_EQ(ad.Read(dv.data(), 1), 3);
  EXPECT_EQ(as.Read(sv.data(), 4), 4);
  EXPECT_EQ(iv, ints);
  EXPECT_EQ(0, std::memcmp(fv.data(), floats.data(), sizeof(float) * 3));  // -0.0 too
  EXPECT_EQ(dv, doubles);
  EXPECT_EQ(sv, strings);
  EXPECT_EQ(ai.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  EXPECT_EQ(ai.SpaceLength(), 16 + 16);
  EXPECT_GE(ai.SpaceAllocation(), ai.SpaceLength());
}

TEST_P(ArrayTest, OpeningAsAnotherElementTypeFailsTheAssertion) {
  qvt_Database db = CreateDb();
  const qvt_Handle h = db.ArrayInt(1, 0, 0).Handle();
  QVT_EXPECT_THROW_TEXT(db.ArrayDouble(h, 0, 0), nex_AssertException, "repr->Type() == type");
  QVT_EXPECT_THROW_TEXT(db.ArrayFloat(h, 0, 0), nex_AssertException, "repr->Type() == type");
  QVT_EXPECT_THROW_TEXT(db.ArrayString(h, 0, 0), nex_AssertException, "repr->Type() == type");
  EXPECT_EQ(db.ArrayInt(h, 0, 0).FieldCount(), 1);
  qvt_TaggedStream stream = db.TaggedStream(0);
  stream.Flush();
  QVT_EXPECT_THROW_TEXT(
      db.ArrayInt(stream.Handle(), 0, 0), nex_TextException,
      "qvt_ArrayRepr::qvt_ArrayRepr: Array object in ODB/CAE file is corrupt.  File may be unusable.");
  stream.WriteInt(1, 1);
  stream.Flush();
  QVT_EXPECT_THROW_TEXT(db.ArrayInt(stream.Handle(), 0, 0), nex_TextException,
                        "qvt_ArrayRepr::qvt_ArrayRepr: Handle is not to an Array object in ODB/CAE file.  "
                        "File may be unusable.");
  QVT_EXPECT_THROW_TEXT(
      db.ArrayInt(0, 0, 0), nex_TextException,
      "qvt_ArrayRepr::qvt_ArrayRepr: Invalid field count 0; a row holds 1 to 268435455 values.");
}

TEST_P(ArrayTest, CopiesOfAHandleShareOnePosition) {
  qvt_Database db = CreateDb();
  qvt_Array<double, 4> a = db.ArrayDouble(1, 0, 0);
  qvt_Array<double, 4> b = a;
  const double v[] = {1, 2, 3};
  b.Write(v, 3);
  EXPECT_EQ(a.Location(), 3);
  a.Seek(1);
  double x = 0;
  EXPECT_EQ(b.Read(&x, 1), 1);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(a.Flush(), 1);
  EXPECT_EQ(b.Flush(), 2);
  QVT_EXPECT_THROW_TEXT(a.Append(b), nex_AssertException, "&other != this");
  qvt_Array<double, 4> c = db.ArrayDouble(1, 0, 0);
  c = a;
  EXPECT_EQ(c.Handle(), a.Handle());
  EXPECT_EQ(c.Repr(), a.Repr());
}

TEST_P(ArrayTest, CreateCopyAndAppendBetweenDatabases) {
  qvt_Database source = CreateDb("source.odb");
  qvt_Database dest = CreateDb("dest.odb");
  qvt_Array<int, 1> ints = source.ArrayInt(3, 0, 0);
  std::vector<int> iv(3000);
  for (std::size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<int>(i * 7);
  ints.Write(iv.data(), 1000);
  ints.Flush();
  const qvt_Handle copy = qvt_Array<int, 1>::CreateCopy(dest, source, ints.Handle());
  qvt_Array<int, 1> copied = dest.ArrayInt(copy, 0, 0);
  EXPECT_EQ(copied.Length(), 1000);
  EXPECT_EQ(copied.CopyAllowed(ints), 1);
  std::vector<int> back(3000);
  EXPECT_EQ(copied.Read(back.data(), 1000), 3000);
  EXPECT_EQ(back, iv);
  // The copy starts its own flush history.
  EXPECT_EQ(copied.Flush(), 1);

  qvt_Array<cow_String, 6> words = source.ArrayString(2, 0, 0);
  const cow_String wv[] = {"a", "bb", "ccc", "a"};
  words.Write(wv, 2);
  words.Flush();
  using StringArray = qvt_Array<cow_String, 6>;
  QVT_EXPECT_THROW_TEXT(StringArray::CreateCopy(dest, source, words.Handle()), nex_AssertException,
                        "data != qvt_TypeString");
  {
    // A read-only destination refuses the copy.
    CreateDb("ro.odb");
    qvt_Database readOnly = OpenDb("ro.odb");
    using IntArray = qvt_Array<int, 1>;
    QVT_EXPECT_THROW_TEXT(
        IntArray::CreateCopy(readOnly, source, ints.Handle()), nex_TextException,
        "The output database was opened as read-only. Modification of data is not permitted.");
  }
  qvt_Array<cow_String, 6> target = dest.ArrayString(2, 0, 0);
  EXPECT_EQ(target.CopyAllowed(words), 1);
  target.Append(words);
  target.Append(words);
  EXPECT_EQ(target.Length(), 4);
  target.Seek(2);
  cow_String sv[4];
  EXPECT_EQ(target.Read(sv, 5), 4);
  EXPECT_EQ(std::vector<cow_String>(sv, sv + 4), std::vector<cow_String>(wv, wv + 4));
}

// A reader process follows a writer through flushes: an array's Snap
// answers the writer's flush count once, after the reader's database was
// refreshed, and leaves the reader where it stood.
TEST_P(ArrayTest, ReaderProcessSnapsWriterFlushesOnce) {
  if (GetParam() == FileKind::Compressed) GTEST_SKIP() << "live readers need a local file";
  qvt_Database db = CreateDb();
  qvt_Array<int, 1> a = db.ArrayInt(1, 0, 0);
  const int first[] = {10, 20, 30};
  a.Write(first, 3);
  a.Flush();
  db.Flush();
  const qvt_Handle handle = a.Handle();
  const std::string path = Path();

  ChildProcess reader([path, handle]() {
    qvt_Database rdb = qvt_Database::Open(qvt_File::Open(path, 0, true), "TEST");
    qvt_Array<int, 1> r = rdb.ArrayInt(handle, 0, 0);
    int v = 0;
    r.Read(&v, 1);
    ChildSay("opened length=" + std::to_string(r.Length()) + " first=" + std::to_string(v));
    while (ChildReadLine() == "check") {
      const int snapBefore = r.Snap();
      const int dbSnap = rdb.Snap();
      const int snap1 = r.Snap();
      const int location1 = r.Location();
      const int snap2 = r.Snap();
      ChildSay("snap " + std::to_string(snapBefore) + " " + std::to_string(dbSnap) + " " +
               std::to_string(snap1) + " " + std::to_string(snap2) +
               " location=" + std::to_string(location1) + "," + std::to_string(r.Location()) +
               " length=" + std::to_string(r.Length()));
    }
    int rest[8] = {};
    const int got = r.Read(rest, 8);
    std::string values;
    for (int i = 0; i < got; ++i) values += " " + std::to_string(rest[i]);
    ChildSay("rest" + values);
    return 0;
  });
  ASSERT_TRUE(reader.WaitForStdout("opened length=3 first=10\n", 10000)) << reader.ErrSoFar();

  // Nothing flushed since the reader opened.
  reader.WriteStdin("check\n");
  ASSERT_TRUE(reader.WaitForStdout("snap 0 0 0 0 location=1,1 length=3\n", 10000)) << reader.OutSoFar();

  const int more[] = {40, 50};
  a.Write(more, 2);
  EXPECT_EQ(a.Flush(), 2);
  db.Flush();
  reader.WriteStdin("check\n");
  ASSERT_TRUE(reader.WaitForStdout("snap 0 1 2 0 location=1,1 length=5\n", 10000)) << reader.OutSoFar();

  // A database flush that left the array alone.
  db.Flush();
  reader.WriteStdin("check\n");
  ASSERT_TRUE(reader.WaitForStdout("snap 0 1 0 0 location=1,1 length=5\n", 10000)) << reader.OutSoFar();

  reader.WriteStdin("done\n");
  const ChildResult result = reader.Wait();
  EXPECT_TRUE(result.Succeeded()) << result.err;
  EXPECT_NE(result.out.find("rest 20 30 40 50\n"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
