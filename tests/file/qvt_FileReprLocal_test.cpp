// The local file: growth in 1 MiB steps, trimming, the size record, raw
// transfers and the refusals of a read-only file.
#include "qvt_FileReprLocal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "qvt_ChildProcess.h"
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

// Growth in whole mebibytes, Extend forwarding to ExtendFile, trimming to
// the logical length, and writes that move the allocation only.
TEST_F(LocalFileTest, GrowthTrimAndWritesMoveTheRightLengths) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  const auto state = [&] {
    return std::vector<long long>{r->Length(), r->FileLength(), r->Allocation(), r->Location(), FileSize(Name())};
  };
  EXPECT_FALSE(r->ReadOnly());
  EXPECT_EQ(state(), (std::vector<long long>{0, 0, 0, 0, 0}));
  EXPECT_TRUE(r->ExtendFile(1));
  EXPECT_EQ(state(), (std::vector<long long>{1, 1, 1048576, 0, 1048576}));
  EXPECT_FALSE(r->ExtendFile(1048575));
  EXPECT_EQ(r->FileLength(), 1048576);
  EXPECT_TRUE(r->Extend(1));
  EXPECT_FALSE(r->Extend(10));
  EXPECT_EQ(state(), (std::vector<long long>{1048587, 1048587, 2097152, 0, 2097152}));
  r->ExtendFile(-1048587 + 3000);
  r->TrimToLength();
  EXPECT_EQ(state(), (std::vector<long long>{3000, 3000, 3000, 0, 3000}));
  r->ExtendFile(-1000);  // a negative increment shrinks the logical length
  r->TrimToLength();
  EXPECT_EQ(state(), (std::vector<long long>{2000, 2000, 2000, 0, 2000}));

  qvt_File w = Create("w.odb");
  EXPECT_EQ(w.Repr()->Write("0123456789", 10), 10);
  EXPECT_EQ((std::vector<long long>{w.Repr()->Length(), w.Repr()->Allocation(), w.Repr()->Location(),
                                    FileSize(Name("w.odb"))}),
            (std::vector<long long>{0, 10, 10, 10}));
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

namespace {

TEST_F(LocalFileTest, BadTransferArgumentsAreRefused) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  char buf[4];
  const char readText[] = "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Read.";
  const char writeText[] = "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Write.";
  QVT_EXPECT_THROW_TEXT(r->Read(nullptr, 1), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Read(buf, -1), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Read(nullptr, 0), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Write(nullptr, 1), qvt_FileBadParameterExc, writeText);
  QVT_EXPECT_THROW_TEXT(r->Write(buf, -1), qvt_FileBadParameterExc, writeText);
  EXPECT_EQ(r->Read(buf, 0), 0);
  EXPECT_EQ(r->Write(buf, 0), 0);
  EXPECT_EQ(r->Location(), 0);
  EXPECT_EQ(r->Allocation(), 0);
  // On a read-only file a bad argument is still reported as such.
  qvt_File ro = OpenRead();
  QVT_EXPECT_THROW_TEXT(ro.Repr()->Write(nullptr, 1), qvt_FileBadParameterExc, writeText);
}

TEST_F(LocalFileTest, ReadsStopShortAtTheEndOfTheFile) {
  WriteAll(Name(), {1, 2, 3, 4, 5});
  qvt_File f = OpenRead();
  qvt_FileRepr* r = f.Repr();
  char buf[8] = {};
  r->Seek(3);
  EXPECT_EQ(r->Read(buf, 8), 2);
  EXPECT_EQ(r->Location(), 5);
  EXPECT_EQ(r->Read(buf, 8), 0);
  EXPECT_EQ(r->Location(), 5);
  r->Seek(100);
  EXPECT_EQ(r->Read(buf, 8), 0);
  EXPECT_EQ(r->Location(), 100);
}

TEST_F(LocalFileTest, ReopeningTakesTheSizeAsLengthAndAllocation) {
  WriteAll(Name(), std::vector<unsigned char>(1234, 7));
  for (int access : {0, 1}) {
    qvt_File f = qvt_File::Open(Name(), access, access == 0);
    EXPECT_EQ(f.Repr()->Length(), 1234);
    EXPECT_EQ(f.Repr()->FileLength(), 1234);
    EXPECT_EQ(f.Repr()->Allocation(), 1234);
    EXPECT_EQ(f.Repr()->Location(), 0);
  }
  qvt_File f = OpenUpdate();
  // The first claim rounds the grown length up to a whole step.
  EXPECT_TRUE(f.Repr()->ExtendFile(10));
  EXPECT_EQ(FileSize(Name()), 1048576);
  EXPECT_EQ(f.Repr()->Length(), 1244);
}

TEST_F(LocalFileTest, WriteBeyondTheAllocationRaisesItAndExtendFileRoundsFromThere) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  r->Seek(1048576 + 5);
  r->Write("x", 1);
  EXPECT_EQ(r->Allocation(), 1048582);
  EXPECT_EQ(r->Length(), 0);
  EXPECT_FALSE(r->ExtendFile(100));  // the next step (1 MiB) is below the allocation
  EXPECT_EQ(FileSize(Name()), 1048582);
  EXPECT_TRUE(r->ExtendFile(1048576));  // 1048676 rounds up to 2 MiB
  EXPECT_EQ(FileSize(Name()), 2097152);
  r->Seek(10);
  r->Write("y", 1);
  EXPECT_EQ(r->Allocation(), 2097152);  // writing inside never lowers it
}

TEST_F(LocalFileTest, LogicalLengthBelowZeroIsRefusedAndChangesNothing) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  r->ExtendFile(10);
  QVT_EXPECT_THROW_TEXT(r->ExtendFile(-11), nex_AssertException, "newLength >= 0");
  EXPECT_EQ(r->Length(), 10);
  EXPECT_EQ(r->Allocation(), 1048576);
  EXPECT_FALSE(r->ExtendFile(-10));
  EXPECT_EQ(r->Length(), 0);
}

TEST_F(LocalFileTest, FailedResizeChangesNoField) {
  const std::string name = Name();
  const qvt_test::ChildResult res = qvt_test::RunChild([&] {
    if (!qvt_test::LimitFileSize(1500000)) return 2;
    qvt_File f = qvt_File::Open(name, 2, false);
    qvt_FileRepr* r = f.Repr();
    if (!r->ExtendFile(1)) return 3;
    try {
      r->ExtendFile(1048576);
      return 4;
    } catch (const nex_TextException& e) {
      std::printf("%s\n", e.AsString().c_str());
    }
    std::printf("%lld %lld\n", static_cast<long long>(r->Length()), static_cast<long long>(r->Allocation()));
    return 0;
  });
  ASSERT_TRUE(res.Succeeded()) << res.exitCode << res.err;
  EXPECT_EQ(res.out.substr(0, res.out.find('\n')), "***ERROR: resize failed for file " + name + ": File too large");
  EXPECT_EQ(res.out.substr(res.out.find('\n') + 1), "1 1048576\n");
  EXPECT_EQ(FileSize(name), 1048576);
}

class SizeRecordTest : public LocalFileTest {
 protected:
  // A file of size bytes whose record at 500 holds marker and value
  // (big-endian double).
  void MakeFile(std::size_t size, std::vector<unsigned char> marker, double value) {
    std::vector<unsigned char> bytes(size, 0x55);
    std::copy(marker.begin(), marker.end(), bytes.begin() + 500);
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 0; i < 8; ++i) bytes[504 + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    WriteAll(Name(), bytes);
  }
  void ExpectSound() {
    qvt_File f = OpenRead();
    f.Repr()->Seek(33);
    f.Repr()->CheckSizeRecord(500);
    EXPECT_EQ(f.Repr()->Location(), 33);
  }
  void ExpectCorrupt() {
    qvt_File f = OpenRead();
    f.Repr()->Seek(33);
    QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
    EXPECT_EQ(f.Repr()->Location(), 33);
  }
};

// The recorded size rounds to the nearest byte; a zero size is accepted
// only with one of two markers, and any other size whatever the marker.
TEST_F(SizeRecordTest, RecordsAreSoundOrCorruptByMarkerAndValue) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::vector<unsigned char> marker;
    double value;
    bool sound;
  } cases[] = {
      {{0x0A, 0x00, 0x0D, 0x0A}, 0.0, true}, {{0, 0, 0, 0}, 0.0, true},     {{0x0A, 0x0D, 0x0A, 0x00}, 0.0, false},
      {{0, 0, 0, 1}, 0.0, false},            {{0x0D, 0x0A, 0x0D, 0x0A}, 0.0, false},
      {{9, 9, 9, 9}, 1023.6, true},          {{0, 0, 0, 0}, 1024.4, true},  {{0, 0, 0, 0}, 1024.5, false},
      {{0, 0, 0, 0}, 0.4, true},             {{0, 0, 0, 0}, -5.0, false},   {{0, 0, 0, 0}, 1e300, false},
      {{0, 0, 0, 0}, -1e300, false},         {{0, 0, 0, 0}, inf, false},    {{0, 0, 0, 0}, nan, false},
      {{0, 0, 0, 0}, 9.3e18, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.value << " marker " << int(c.marker[0]) << int(c.marker[3]));
    MakeFile(1024, c.marker, c.value);
    if (c.sound) {
      ExpectSound();
    } else {
      ExpectCorrupt();
    }
  }
}

TEST_F(SizeRecordTest, EveryTruncatedRecordIsCorrupt) {
  {
    qvt_File f = Create();
    f.Repr()->ExtendFile(1000);
    f.Repr()->TrimToLength();
    f.Repr()->WriteSizeRecord(500);
  }
  const std::vector<unsigned char> whole = ReadAll(Name());
  for (std::size_t length = 500; length < 512; ++length) {
    SCOPED_TRACE(length);
    WriteAll(Name(), std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(length)));
    ExpectCorrupt();
  }
}

TEST_F(SizeRecordTest, CheckComparesWithTheCurrentAllocation) {
  {
    qvt_File f = Create();
    f.Repr()->ExtendFile(600);
    f.Repr()->WriteSizeRecord(500);
  }
  ExpectSound();
  {
    qvt_File f = OpenUpdate();
    f.Repr()->ExtendFile(1048576);  // grows the file; the record is now stale
    QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
  }
  ExpectCorrupt();
  qvt_File f = OpenUpdate();
  f.Repr()->WriteSizeRecord(500);
  f.Repr()->CheckSizeRecord(500);
  EXPECT_EQ(qvt_test::BEDouble(ReadAll(Name()), 504), 2097152.0);
}

TEST_F(SizeRecordTest, TrimThenRecordAsAtClose) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  r->ExtendFile(1024);
  r->Seek(1000);
  r->WriteInt(77);
  r->TrimToLength();
  r->WriteSizeRecord(500);
  EXPECT_EQ(FileSize(Name()), 1024);
  const std::vector<unsigned char> bytes = ReadAll(Name());
  EXPECT_EQ(qvt_test::BE32(bytes, 500), 0u);
  EXPECT_EQ(qvt_test::BEDouble(bytes, 504), 1024.0);
  EXPECT_EQ(qvt_test::BE32(bytes, 1000), 77u);
  EXPECT_EQ(r->Location(), 1004);
}

}  // namespace
