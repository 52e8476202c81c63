// The local file: growth in 1 MiB steps, trimming, the size record, raw
// transfers and the refusals of a read-only file.
#include "qvt_FileReprLocal.h"

#include <gtest/gtest.h>

#include <cstring>

#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::FileSize;
using qvt_test::ReadAll;
using qvt_test::ScratchDir;
using qvt_test::WriteAll;

const char kCorrupt[] =
    "***ERROR: The KELVOR database file is corrupt. If this file was transferred from another machine using FTP or "
    "equivalent, ensure that the file was copied using the binary mode instead of ASCII mode.";

class LocalFileTest : public ::testing::Test {
 protected:
  std::string Name(const char* leaf = "a.odb") const { return m_Dir.File(leaf); }
  qvt_File Create(const char* leaf = "a.odb") { return qvt_File::Open(Name(leaf), 2, false); }
  qvt_File OpenRead(const char* leaf = "a.odb") { return qvt_File::Open(Name(leaf), 0, true); }
  qvt_File OpenUpdate(const char* leaf = "a.odb") { return qvt_File::Open(Name(leaf), 1, false); }

  ScratchDir m_Dir;
};

std::string ReadOnlyText(const std::string& name) {
  return "*** ERROR: Attempt to write to read-only file:\n  " + name;
}

TEST_F(LocalFileTest, NewFileIsEmptyEverywhere) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  EXPECT_EQ(r->Length(), 0);
  EXPECT_EQ(r->FileLength(), 0);
  EXPECT_EQ(r->Allocation(), 0);
  EXPECT_EQ(r->Location(), 0);
  EXPECT_FALSE(r->ReadOnly());
  EXPECT_EQ(FileSize(Name()), 0);
}

TEST_F(LocalFileTest, ExtendFileGrowsInWholeMebibytes) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  EXPECT_TRUE(r->ExtendFile(1));
  EXPECT_EQ(FileSize(Name()), 1048576);
  EXPECT_EQ(r->FileLength(), 1);
  EXPECT_EQ(r->Allocation(), 1048576);
  EXPECT_FALSE(r->ExtendFile(1048575));
  EXPECT_EQ(FileSize(Name()), 1048576);
  EXPECT_EQ(r->FileLength(), 1048576);
  EXPECT_TRUE(r->ExtendFile(1));
  EXPECT_EQ(FileSize(Name()), 2097152);
  EXPECT_EQ(r->Allocation(), 2097152);
  EXPECT_EQ(r->Length(), 1048577);
}

TEST_F(LocalFileTest, ExtendForwardsToExtendFile) {
  qvt_File f = Create();
  EXPECT_TRUE(f.Repr()->Extend(10));
  EXPECT_FALSE(f.Repr()->Extend(10));
  EXPECT_EQ(f.Repr()->Length(), 20);
  EXPECT_EQ(FileSize(Name()), 1048576);
}

TEST_F(LocalFileTest, TrimToLengthCutsTheFileToTheLogicalLength) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  r->ExtendFile(3000);
  r->TrimToLength();
  EXPECT_EQ(FileSize(Name()), 3000);
  EXPECT_EQ(r->Allocation(), 3000);
  // Shorter than before: a negative increment shrinks the logical length.
  r->ExtendFile(-1000);
  EXPECT_EQ(r->FileLength(), 2000);
  r->TrimToLength();
  EXPECT_EQ(FileSize(Name()), 2000);
}

TEST_F(LocalFileTest, WriteMovesAllocationButNotLength) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  EXPECT_EQ(r->Write("0123456789", 10), 10);
  EXPECT_EQ(r->Length(), 0);
  EXPECT_EQ(r->Allocation(), 10);
  EXPECT_EQ(r->Location(), 10);
  EXPECT_EQ(FileSize(Name()), 10);
}

TEST_F(LocalFileTest, IntFloatDoubleAreStoredBigEndian) {
  {
    qvt_File f = Create();
    qvt_FileRepr* r = f.Repr();
    r->WriteInt(0x01020304);
    r->WriteFloat(1.0f);
    r->WriteDouble(1.0);
    r->WriteInt(-2);
  }
  const std::vector<unsigned char> expected = {0x01, 0x02, 0x03, 0x04, 0x3F, 0x80, 0x00, 0x00, 0x3F, 0xF0,
                                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(ReadAll(Name()), expected);
  qvt_File f = OpenRead();
  qvt_FileRepr* r = f.Repr();
  EXPECT_EQ(r->ReadInt(), 0x01020304);
  EXPECT_EQ(r->ReadFloat(), 1.0f);
  EXPECT_EQ(r->ReadDouble(), 1.0);
  EXPECT_EQ(r->ReadInt(), -2);
  QVT_EXPECT_THROW_TEXT(r->ReadInt(), nex_TextException, "***ERROR: Unexpected End Of File.");
}

TEST_F(LocalFileTest, SizeRecordIsMarkerThenAllocationAsBigEndianDouble) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  r->ExtendFile(600);
  r->Seek(7);
  r->WriteSizeRecord(500);
  EXPECT_EQ(r->Location(), 7);
  const std::vector<unsigned char> bytes = ReadAll(Name());
  const std::vector<unsigned char> record(bytes.begin() + 500, bytes.begin() + 512);
  const std::vector<unsigned char> expected = {0, 0, 0, 0, 0x41, 0x30, 0, 0, 0, 0, 0, 0};  // 1048576.0
  EXPECT_EQ(record, expected);
  r->CheckSizeRecord(500);
  EXPECT_EQ(r->Location(), 7);
}

TEST_F(LocalFileTest, SizeRecordMustMatchTheFileSize) {
  {
    qvt_File f = Create();
    f.Repr()->ExtendFile(2097152);
    f.Repr()->WriteSizeRecord(500);
  }
  EXPECT_EQ(FileSize(Name()), 2097152);
  OpenRead().Repr()->CheckSizeRecord(500);
  qvt_test::TruncateTo(Name(), 2097153);  // as after a text-mode transfer
  qvt_File f = OpenRead();
  QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
}

TEST_F(LocalFileTest, ReadOnlyFileRefusesEveryWriteAndChangesNothing) {
  {
    qvt_File f = Create();
    f.Repr()->Write("abcdef", 6);
  }
  const std::vector<unsigned char> before = ReadAll(Name());
  qvt_File f = OpenRead();
  qvt_FileRepr* r = f.Repr();
  EXPECT_TRUE(f.ReadOnly());
  const std::string text = ReadOnlyText(Name());
  QVT_EXPECT_THROW_TEXT(r->Write("x", 1), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->ExtendFile(1), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->Extend(1), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->TrimToLength(), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->WriteSizeRecord(0), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->WriteInt(1), qvt_FileReadOnlyExc, text);
  EXPECT_EQ(r->Length(), 6);
  EXPECT_EQ(r->Allocation(), 6);
  EXPECT_EQ(r->Location(), 0);
  EXPECT_EQ(ReadAll(Name()), before);
}

}  // namespace
