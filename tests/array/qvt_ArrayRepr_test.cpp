// Typed arrays on a database file of each kind: the stored bytes of the
// header and rows, row arithmetic, flush counts, truncation, every message,
// and round trips through close and reopen.
#include "qvt_ArrayRepr.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_Linkage.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

const char kCorrupt[] =
    "qvt_ArrayRepr::qvt_ArrayRepr: Array object in ODB/CAE file is corrupt.  File may be unusable.";
const char kNotAnArray[] =
    "qvt_ArrayRepr::qvt_ArrayRepr: Handle is not to an Array object in ODB/CAE file.  File may be unusable.";
const char kIllegalType[] = "qvt_ArrayRepr::RowSize - illegal array type.";
const char kInvalidDatabase[] =
    "***ERROR: Database is not valid. This may indicate that the database has been corrupted.";
const char kReadOnly[] =
    "The output database was opened as read-only. Modification of data is not permitted.";

using Db = std::unique_ptr<qvt_DatabaseReprFile>;
using Array = std::unique_ptr<qvt_ArrayRepr>;

Array NewArray(qvt_DatabaseReprFile& db, qvt_Type type, int fieldCount, int bufferSize = 0) {
  return std::make_unique<qvt_ArrayRepr>(&db, type, fieldCount, 0, bufferSize);
}
Array OpenArray(qvt_DatabaseReprFile& db, qvt_Handle handle, int bufferSize = 0) {
  return std::make_unique<qvt_ArrayRepr>(&db, handle, 0, bufferSize);
}

// A plain space holding the given big-endian words.
qvt_Handle SpaceOfWords(qvt_DatabaseReprFile& db, const std::vector<int>& words) {
  std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1));
  if (!words.empty()) space->WriteIntArray(words.data(), static_cast<int>(words.size()));
  return space->Handle();
}

class ArrayReprTest : public KindTest {};

TEST_P(ArrayReprTest, IntArrayHeaderAndRowsAreStoredBigEndian) {
  Db db = Files().Create();
  Array a = NewArray(*db, qvt_TypeInt, 3);
  const qvt_Handle handle = a->Handle();
  EXPECT_EQ(handle, 4u);
  const int rows[] = {1, 2, 3, -1, 0x01020304, 7};
  EXPECT_EQ(a->Write(rows, 2), 2);
  EXPECT_EQ(a->Flush(), 1);
  db->Flush();

  const std::vector<unsigned char> bytes = ObjectBytes(*db, handle);
  ASSERT_EQ(bytes.size(), 16u + 24u);
  EXPECT_EQ(Words(bytes, 0, 10),
            (std::vector<std::uint32_t>{0xFFFAEEEBu, 1, 1, 3, 1, 2, 3, 0xFFFFFFFFu, 0x01020304u, 7}));
  EXPECT_EQ(bytes[32], 0x01);  // big-endian: most significant byte first
  EXPECT_EQ(bytes[35], 0x04);

  if (GetParam() == FileKind::Local) {
    // The object lies in one extent of the file, byte for byte.
    const utl_FileOffset at = db->LinkageEntry(handle).m_Location;
    a.reset();
    db.reset();
    const std::vector<unsigned char> file = ReadAll(Path());
    ASSERT_GE(file.size(), static_cast<std::size_t>(at) + bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), file.begin() + at));
  }
}

// Rows and values: the row size follows type and field count, reads answer
// values, the length comes from the space length, a truncation keeps the
// rows asked for and rewinds, a flush counts up and keeps the position.
TEST_P(ArrayReprTest, RowArithmeticTruncateAndFlush) {
  Db db = Files().Create();
  EXPECT_EQ(NewArray(*db, qvt_TypeFloat, 5)->RowSize(), 20);
  EXPECT_EQ(NewArray(*db, qvt_TypeDouble, 3)->RowSize(), 24);
  EXPECT_EQ(NewArray(*db, qvt_TypeString, 2)->RowSize(), 16);
  Array a = NewArray(*db, qvt_TypeInt, 3);
  EXPECT_EQ((std::vector<int>{a->Length(), a->Location(), a->RowSize(), a->Type(), a->FieldCount()}),
            (std::vector<int>{0, 0, 12, qvt_TypeInt, 3}));
  EXPECT_EQ(a->Flush(), 1);
  EXPECT_EQ(a->SpaceLength(), 16);
  const int rows[] = {10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51, 52};
  EXPECT_EQ(a->Write(rows, 5), 5);
  EXPECT_EQ(a->Length(), 5);
  EXPECT_EQ(a->Location(), 5);
  a->Seek(0);
  int back[18] = {};
  EXPECT_EQ(a->Read(back, 2), 6);  // values, not rows
  EXPECT_EQ(std::vector<int>(back, back + 7), (std::vector<int>{10, 11, 12, 20, 21, 22, 0}));
  a->Seek(3);
  EXPECT_EQ(a->Location(), 3);
  EXPECT_EQ(a->Flush(), 2);
  EXPECT_EQ(a->Location(), 3);
  EXPECT_EQ(a->SpaceLength(), 16 + 5 * 12);  // the length comes from the space
  EXPECT_GE(a->SpaceAllocation(), a->SpaceLength());
  EXPECT_EQ(BE32(ObjectBytes(*db, a->Handle()), 4), 2u);
  EXPECT_EQ(a->Read(back, 1), 3);
  EXPECT_EQ(back[0], 40);
  EXPECT_EQ(a->Snap(), 0);  // a writer never snaps

  a->Truncate(1);
  EXPECT_EQ(a->SpaceLength(), 16 + 12);
  EXPECT_EQ(a->Location(), 0);
  EXPECT_EQ(a->Length(), 1);
  a->Seek(1);
  a->Write(rows + 12, 1);
  a->Seek(0);
  EXPECT_EQ(a->Read(back, 3), 6);
  EXPECT_EQ(std::vector<int>(back, back + 6), (std::vector<int>{10, 11, 12, 50, 51, 52}));
  a->Truncate(10);  // a longer length changes nothing but the position
  EXPECT_EQ(a->Length(), 2);
  EXPECT_EQ(a->Location(), 0);
}

TEST_P(ArrayReprTest, OpenRefusesWhatIsNoArray) {
  Db db = Files().Create();
  const qvt_Handle tooShort = SpaceOfWords(*db, {static_cast<int>(0xFFFAEEEBu), 0, 1});
  const qvt_Handle wrongMagic = SpaceOfWords(*db, {static_cast<int>(0xFAAFEBBEu), 0, 1, 1});
  const qvt_Handle noField = SpaceOfWords(*db, {static_cast<int>(0xFFFAEEEBu), 0, 1, 0});
  const qvt_Handle hugeField = SpaceOfWords(*db, {static_cast<int>(0xFFFAEEEBu), 0, 4, 0x7FFFFFFF});
  const qvt_Handle badType = SpaceOfWords(*db, {static_cast<int>(0xFFFAEEEBu), 0, 5, 2});
  QVT_EXPECT_THROW_TEXT(OpenArray(*db, tooShort), nex_TextException, kCorrupt);
  QVT_EXPECT_THROW_TEXT(OpenArray(*db, wrongMagic), nex_TextException, kNotAnArray);
  QVT_EXPECT_THROW_TEXT(OpenArray(*db, noField), nex_TextException, kCorrupt);
  QVT_EXPECT_THROW_TEXT(OpenArray(*db, hugeField), nex_TextException, kCorrupt);
  QVT_EXPECT_THROW_TEXT(OpenArray(*db, 0), nex_TextException, kInvalidDatabase);
  QVT_EXPECT_THROW_TEXT(OpenArray(*db, 4000), nex_TextException, kInvalidDatabase);

  // A stored type no array holds opens, and every row computation refuses it.
  Array a = OpenArray(*db, badType);
  EXPECT_EQ(static_cast<int>(a->Type()), 5);
  QVT_EXPECT_THROW_TEXT(a->RowSize(), nex_TextException, kIllegalType);
  QVT_EXPECT_THROW_TEXT(a->Length(), nex_TextException, kIllegalType);
  QVT_EXPECT_THROW_TEXT(a->Seek(1), nex_TextException, kIllegalType);
  QVT_EXPECT_THROW_TEXT(a->Truncate(0), nex_TextException, kIllegalType);
}

TEST_P(ArrayReprTest, FieldCountBelowOneIsRefusedAndNothingIsWritten) {
  {
    Db db = Files().Create("refused.odb");
    QVT_EXPECT_THROW_TEXT(
        NewArray(*db, qvt_TypeInt, 0), nex_TextException,
        "qvt_ArrayRepr::qvt_ArrayRepr: Invalid field count 0; a row holds 1 to 268435455 values.");
    QVT_EXPECT_THROW_TEXT(
        NewArray(*db, qvt_TypeDouble, -3), nex_TextException,
        "qvt_ArrayRepr::qvt_ArrayRepr: Invalid field count -3; a row holds 1 to 268435455 values.");
    QVT_EXPECT_THROW_TEXT(
        NewArray(*db, qvt_TypeInt, 268435456), nex_TextException,
        "qvt_ArrayRepr::qvt_ArrayRepr: Invalid field count 268435456; a row holds 1 to 268435455 values.");
    QVT_EXPECT_THROW_TEXT(NewArray(*db, qvt_TypeHandle, 1), nex_TextException, kIllegalType);
    // No handle was used up.
    EXPECT_EQ(NewArray(*db, qvt_TypeInt, 1)->Handle(), 4u);
  }
  {
    Db db = Files().Create("plain.odb");
    EXPECT_EQ(NewArray(*db, qvt_TypeInt, 1)->Handle(), 4u);
  }
  EXPECT_EQ(ReadAll(Path("refused.odb")), ReadAll(Path("plain.odb")));
}

TEST_P(ArrayReprTest, ReadAndWriteCheckTheirArguments) {
  Db db = Files().Create();
  Array a = NewArray(*db, qvt_TypeInt, 2);
  int values[4] = {1, 2, 3, 4};
  QVT_EXPECT_THROW_TEXT(a->Write(static_cast<const int*>(nullptr), 1), nex_AssertException, "data != NULL");
  QVT_EXPECT_THROW_TEXT(a->Write(values, 0), nex_AssertException, "rowCount > 0");
  QVT_EXPECT_THROW_TEXT(a->Write(values, -1), nex_AssertException, "rowCount > 0");
  QVT_EXPECT_THROW_TEXT(a->Read(static_cast<double*>(nullptr), 1), nex_AssertException, "data != NULL");
  QVT_EXPECT_THROW_TEXT(a->Read(values, 0), nex_AssertException, "rowCount > 0");
  QVT_EXPECT_THROW_TEXT(a->Write(values, 1 << 30), nex_TextException,
                        "qvt_ArrayRepr: Row count 1073741824 is too large for one transfer.");
  a->Flush();
  EXPECT_EQ(a->SpaceLength(), 16);  // nothing was written
  QVT_EXPECT_THROW_TEXT(a->Seek(-1), nex_TextException, "qvt_ArrayRepr::Seek - Invalid row index -1.");
  QVT_EXPECT_THROW_TEXT(a->Truncate(-2), nex_TextException,
                        "qvt_ArrayRepr::Truncate - Invalid row count -2.");
  EXPECT_EQ(a->SpaceLength(), 16);
  a.reset();
  Array again = OpenArray(*db, 4);
  EXPECT_EQ(again->FieldCount(), 2);
}

TEST_P(ArrayReprTest, PartialLastRowDeliversItsWholeValues) {
  Db db = Files().Create();
  Array a = NewArray(*db, qvt_TypeInt, 3);
  const int row[] = {1, 2, 3};
  a->Write(row, 1);
  a->Flush();
  {
    // Two values of a second row, as a writer stopped mid-row leaves them.
    std::unique_ptr<qvt_SpaceRepr> space(db->Space(a->Handle(), -1));
    space->Seek(space->Length());
    const int tail[] = {4, 5};
    space->WriteIntArray(tail, 2);
  }
  Array b = OpenArray(*db, a->Handle());
  EXPECT_EQ(b->Length(), 2);  // 20 bytes of rows: the nearest whole count
  int back[6] = {};
  EXPECT_EQ(b->Read(back, 2), 5);
  EXPECT_EQ(std::vector<int>(back, back + 6), (std::vector<int>{1, 2, 3, 4, 5, 0}));
}

TEST_P(ArrayReprTest, ReadOnlyArrayRefusesChanges) {
  qvt_Handle h;
  {
    Db db = Files().Create();
    Array a = NewArray(*db, qvt_TypeInt, 1);
    const int v[] = {1, 2, 3};
    a->Write(v, 3);
    a->Flush();
    h = a->Handle();
  }
  Db db = Files().Open();
  Array a = OpenArray(*db, h);
  Array other = OpenArray(*db, h);
  EXPECT_EQ(a->Flush(), 0);
  QVT_EXPECT_THROW_TEXT(a->Truncate(1), nex_TextException, "***ERROR: Attempt to truncate read only array.");
  QVT_EXPECT_THROW_TEXT(a->Append(*other), nex_TextException,
                        "qvt_ArrayRepr::Append - Attempt to append to read only array.");
  const int v = 9;
  QVT_EXPECT_THROW_TEXT(a->Write(&v, 1), nex_TextException, kReadOnly);
  EXPECT_EQ(a->Length(), 3);
  int back[3] = {};
  a->Seek(0);
  EXPECT_EQ(a->Read(back, 3), 3);
  EXPECT_EQ(back[2], 3);
}

TEST_P(ArrayReprTest, StatisticsCountTheExtentsOfTheSpace) {
  Db db = Files().Create();
  Array a = NewArray(*db, qvt_TypeInt, 1);
  Array b = NewArray(*db, qvt_TypeInt, 1);
  const int v[] = {1, 2, 3, 4};
  a->Write(v, 4);
  a->Flush();
  EXPECT_EQ(a->GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  b->Write(v, 4);
  b->Flush();
  // b now lies behind a, so a's next growth chains a second extent.
  a->Write(v, 4);
  a->Flush();
  EXPECT_EQ(a->GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=2"}));
  EXPECT_EQ(b->GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayReprTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
