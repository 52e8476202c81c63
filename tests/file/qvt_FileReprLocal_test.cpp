// The local file: growth in 1 MiB steps, trimming, the size record, raw
// transfers and the refusals of a read-only file.
#include "qvt_FileReprLocal.h"

#include <limits>

#include "qvt_ChildProcess.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::FileSize;
using qvt_test::ReadAll;
using qvt_test::WriteAll;
using State = std::vector<long long>;

const char kCorrupt[] =
    "***ERROR: The KELVOR database file is corrupt. If this file was transferred from another machine using "
    "FTP or "
    "equivalent, ensure that the file was copied using the binary mode instead of ASCII mode.";

class LocalFileTest : public ::testing::Test {
 protected:
  std::string Name(const char* leaf = "a.odb") const { return m_Dir.File(leaf); }
  qvt_File Create(const char* leaf = "a.odb") { return qvt_File::Open(Name(leaf), 2, false); }
  qvt_File OpenRead() { return qvt_File::Open(Name(), 0, true); }
  qvt_File OpenUpdate() { return qvt_File::Open(Name(), 1, false); }
  // Length, file length, allocation, location, and the size on disk.
  State StateOf(qvt_FileRepr* r) const {
    return {r->Length(), r->FileLength(), r->Allocation(), r->Location(), FileSize(Name())};
  }
  // Checks the size record at 500 from offset 33, which it must keep.
  void ExpectRecord(bool sound) {
    qvt_File f = OpenRead();
    f.Repr()->Seek(33);
    if (sound) {
      f.Repr()->CheckSizeRecord(500);
    } else {
      QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
    }
    EXPECT_EQ(f.Repr()->Location(), 33);
  }
  qvt_test::ScratchDir m_Dir;
};

// Growth in whole mebibytes from the allocation, Extend forwarding to
// ExtendFile, trimming to the logical length, and writes that move the
// allocation only, never lowering it.
TEST_F(LocalFileTest, GrowthTrimAndWritesMoveTheRightLengths) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  EXPECT_FALSE(r->ReadOnly());
  EXPECT_EQ(r->CheckNODBCache(), "");  // only a remote file has a cache to report on
  EXPECT_EQ(StateOf(r), (State{0, 0, 0, 0, 0}));
  EXPECT_TRUE(r->ExtendFile(1));
  EXPECT_EQ(StateOf(r), (State{1, 1, 1048576, 0, 1048576}));
  EXPECT_FALSE(r->ExtendFile(1048575));
  EXPECT_TRUE(r->Extend(1));
  EXPECT_FALSE(r->Extend(10));
  EXPECT_EQ(StateOf(r), (State{1048587, 1048587, 2097152, 0, 2097152}));
  r->ExtendFile(-1048587 + 3000);
  r->TrimToLength();
  EXPECT_EQ(StateOf(r), (State{3000, 3000, 3000, 0, 3000}));
  QVT_EXPECT_THROW_TEXT(r->ExtendFile(-3001), nex_AssertException, "newLength >= 0");
  r->ExtendFile(-1000);  // a negative increment shrinks the logical length
  r->TrimToLength();
  EXPECT_EQ(StateOf(r), (State{2000, 2000, 2000, 0, 2000}));
  r->Seek(1048576 + 5);
  r->Write("x", 1);
  EXPECT_EQ(StateOf(r), (State{2000, 2000, 1048582, 1048582, 1048582}));
  EXPECT_FALSE(r->ExtendFile(100));     // the next step (1 MiB) is below the allocation
  EXPECT_TRUE(r->ExtendFile(1048576));  // rounds up to 2 MiB
  r->Seek(10);
  r->Write("y", 1);
  EXPECT_EQ(StateOf(r), (State{1050676, 1050676, 2097152, 11, 2097152}));
}

// Reopening takes the size as length and allocation; reads stop at the end
// and past it. (The order of typed values is the stream's, tested there.)
TEST_F(LocalFileTest, ReopeningTakesTheSizeAndReadsStopAtTheEnd) {
  WriteAll(Name(), std::vector<unsigned char>(20, 7));
  for (int access : {0, 1}) {
    qvt_File f = qvt_File::Open(Name(), access, access == 0);
    EXPECT_EQ(StateOf(f.Repr()), (State{20, 20, 20, 0, 20}));
  }
  qvt_File f = OpenRead();
  qvt_FileRepr* r = f.Repr();
  char buf[8] = {};
  r->Seek(17);
  EXPECT_EQ(r->Read(buf, 8), 3);
  EXPECT_EQ(r->Read(buf, 8), 0);
  EXPECT_EQ(r->Location(), 20);
  r->Seek(100);
  EXPECT_EQ(r->Read(buf, 8), 0);
  EXPECT_EQ(r->Location(), 100);
  // The first claim of an update rounds the grown length up to a whole step.
  qvt_File u = OpenUpdate();
  EXPECT_TRUE(u.Repr()->ExtendFile(10));
  EXPECT_EQ(StateOf(u.Repr()), (State{30, 30, 1048576, 0, 1048576}));
}

TEST_F(LocalFileTest, RefusalsChangeNothing) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  char buf[4];
  const char readText[] = "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Read.";
  const char writeText[] = "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Write.";
  QVT_EXPECT_THROW_TEXT(r->Read(buf, -1), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Read(nullptr, 0), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Write(nullptr, 1), qvt_FileBadParameterExc, writeText);
  QVT_EXPECT_THROW_TEXT(r->Write(buf, -1), qvt_FileBadParameterExc, writeText);
  EXPECT_EQ(r->Read(buf, 0), 0);
  EXPECT_EQ(r->Write(buf, 0), 0);
  r->Write("abcdef", 6);
  const std::vector<unsigned char> before = ReadAll(Name());
  qvt_File ro = OpenRead();
  r = ro.Repr();
  const std::string text = "*** ERROR: Attempt to write to read-only file:\n  " + Name();
  QVT_EXPECT_THROW_TEXT(r->Write("x", 1), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->ExtendFile(1), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->Extend(1), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->TrimToLength(), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->WriteSizeRecord(0), qvt_FileReadOnlyExc, text);
  QVT_EXPECT_THROW_TEXT(r->WriteInt(1), qvt_FileReadOnlyExc, text);
  EXPECT_EQ(StateOf(r), (State{6, 6, 6, 0, 6}));
  EXPECT_EQ(ReadAll(Name()), before);
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
  EXPECT_EQ(res.out, "***ERROR: resize failed for file " + name + ": File too large\n1 1048576\n");
  EXPECT_EQ(FileSize(name), 1048576);
}

// The record is a marker and the allocation as a big-endian double, written
// and checked without moving the position. The check compares the size,
// rounded to the nearest byte, with the current allocation: a zero size
// passes only with one of two markers, any other size whatever the marker;
// a file grown since, one byte short (as after a text-mode transfer) or cut
// inside the record is corrupt.
TEST_F(LocalFileTest, SizeRecordIsWrittenAndCheckedAgainstTheAllocation) {
  {
    qvt_File f = Create();
    qvt_FileRepr* r = f.Repr();
    r->ExtendFile(1024);
    r->Seek(1000);
    r->WriteInt(77);
    r->TrimToLength();
    r->WriteSizeRecord(500);
    EXPECT_EQ(r->Location(), 1004);
  }
  const std::vector<unsigned char> bytes = ReadAll(Name());
  EXPECT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 500, bytes.begin() + 512),
            (std::vector<unsigned char>{0, 0, 0, 0, 0x40, 0x90, 0, 0, 0, 0, 0, 0}));  // 1024.0
  EXPECT_EQ(qvt_test::BE32(bytes, 1000), 77u);
  ExpectRecord(true);
  {
    qvt_File f = OpenUpdate();
    f.Repr()->ExtendFile(1048576);  // grows the file; the record is now stale
    QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
    f.Repr()->WriteSizeRecord(500);
    f.Repr()->CheckSizeRecord(500);
  }
  EXPECT_EQ(qvt_test::BEDouble(ReadAll(Name()), 504), 2097152.0);

  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::vector<unsigned char> marker;
    double value;
    std::size_t length;
    bool sound;
  } cases[] = {
      {{0x0A, 0x00, 0x0D, 0x0A}, 0.0, 1024, true},
      {{0, 0, 0, 0}, 0.0, 1024, true},
      {{0x0A, 0x0D, 0x0A, 0x00}, 0.0, 1024, false},
      {{0, 0, 0, 1}, 0.0, 1024, false},
      {{0x0D, 0x0A, 0x0D, 0x0A}, 0.0, 1024, false},
      {{9, 9, 9, 9}, 1023.6, 1024, true},
      {{0, 0, 0, 0}, 1024.4, 1024, true},
      {{0, 0, 0, 0}, 1024.5, 1024, false},
      {{0, 0, 0, 0}, 1024.0, 1023, false},
      {{0, 0, 0, 0}, 1023.0, 511, false},
      {{0, 0, 0, 0}, 0.0, 500, false},
      {{0, 0, 0, 0}, 0.4, 1024, true},
      {{0, 0, 0, 0}, -5.0, 1024, false},
      {{0, 0, 0, 0}, 1e300, 1024, false},
      {{0, 0, 0, 0}, -1e300, 1024, false},
      {{0, 0, 0, 0}, inf, 1024, false},
      {{0, 0, 0, 0}, nan, 1024, false},
      {{0, 0, 0, 0}, 9.3e18, 1024, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.value << " marker " << int(c.marker[0]) << int(c.marker[3]) << " length " << c.length);
    std::vector<unsigned char> record(1024, 0x55);
    std::copy(c.marker.begin(), c.marker.end(), record.begin() + 500);
    qvt_test::PutBEDouble(record, 504, c.value);
    record.resize(c.length);
    WriteAll(Name(), record);
    ExpectRecord(c.sound);
  }
}

}  // namespace
