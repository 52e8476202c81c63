// The compressed file through qvt_File: lengths, positions and segment
// boundaries, extension both ways, read-only refusals, the informational
// lines, and damaged files.
#include "qvt_FileReprEncoded.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_CompressedTestSupport.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_TestSupport.h"

using qvt_ctest::CompressibleBytes;
using qvt_ctest::kSector;
using qvt_ctest::LE32;
using qvt_test::ReadAll;

namespace {

constexpr int kS = 65536;
using Bytes = std::vector<char>;

class EncodedFileTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("c.mdb"); }
  static qvt_FileReprEncoded& Encoded(const qvt_File& file) { return dynamic_cast<qvt_FileReprEncoded&>(*file.Repr()); }
  // A compressed file holding bytes, closed.
  void Make(const Bytes& bytes) {
    qvt_File file = qvt_File::CreateCompressed(Name());
    if (!bytes.empty()) {
      ASSERT_EQ(file.Repr()->Write(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    }
  }
  static Bytes ReadBack(qvt_File& file) {
    Bytes bytes(static_cast<std::size_t>(file.Repr()->Length()));
    file.Repr()->Seek(0);
    if (!bytes.empty()) {
      EXPECT_EQ(file.Repr()->Read(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    }
    return bytes;
  }
  // Bytes of the closed file reopened read-only.
  Bytes Reopened() const {
    qvt_File file = qvt_File::Open(Name(), 0, true);
    return ReadBack(file);
  }
  static std::string BadParameter(const std::string& method) {
    return "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::" + method + ".";
  }
  static Bytes Prefix(const Bytes& bytes, std::size_t keep, std::size_t size) {
    Bytes out(bytes.begin(), bytes.begin() + static_cast<long>(keep));
    out.resize(size, 0);
    return out;
  }

  qvt_test::ScratchDir m_Dir;
};

TEST_F(EncodedFileTest, EmptyFileIsOneSectorWithOneEmptySegment) {
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    EXPECT_FALSE(file.ReadOnly());
    file.Repr()->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Name());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "KVRTSA00");
  EXPECT_EQ((std::vector<std::uint32_t>{LE32(bytes, 28), LE32(bytes, 32), LE32(bytes, 36)}),
            (std::vector<std::uint32_t>{65536, 1, 0}));
  EXPECT_TRUE(qvt_FileReprEncoded::IsCompressedFile(Name()));
  qvt_File file = qvt_File::Open(Name(), 0, true);
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_EQ(file.Repr()->Length(), 0);
  EXPECT_EQ(file.Repr()->FileLength(), 0);
  EXPECT_EQ(file.Repr()->Allocation(), 0);
}

TEST_F(EncodedFileTest, PositionsFollowSegmentBoundaries) {
  const Bytes bytes = CompressibleBytes(3 * kS + 7, 3);
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    EXPECT_EQ(file.Repr()->Write(bytes.data(), kS), kS);
    EXPECT_EQ(Encoded(file).CurrentSegment(), 1);  // a whole segment moves to the next at offset 0
    EXPECT_EQ(Encoded(file).CurrentOffset(), 0);
    EXPECT_EQ(file.Repr()->Location(), kS);
    EXPECT_EQ(file.Repr()->Allocation(), kS);
    file.Repr()->Write(bytes.data() + kS, 2 * kS + 7);
  }
  qvt_File file = qvt_File::Open(Name(), 0, true);
  Bytes got(bytes.size());
  file.Repr()->Seek(kS - 3);
  EXPECT_EQ(file.Repr()->Read(got.data(), 3), 3);
  EXPECT_EQ(Encoded(file).CurrentSegment(), 1);
  EXPECT_EQ(file.Repr()->Read(got.data() + 3, 2 * kS), 2 * kS);
  EXPECT_EQ(file.Repr()->Read(got.data() + 3 + 2 * kS, 100), 7);  // stops at the end
  EXPECT_EQ(file.Repr()->Location(), 3 * kS + 7);
  EXPECT_EQ(file.Repr()->Read(got.data(), 20), 0);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2 * kS + 10, bytes.begin() + kS - 3));
  file.Repr()->Seek(3 * kS + 7);  // the end is allowed, one byte further is not
  QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(3 * kS + 8), nex_AssertException, "location <= m_LogicalFileSize");
  QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(-1), qvt_FileBadParameterExc, BadParameter("Seek"));
  EXPECT_EQ(file.Repr()->Location(), 3 * kS + 7);
}

TEST_F(EncodedFileTest, ExtensionBothWays) {
  Make(CompressibleBytes(1000, 4));
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    file.Repr()->Seek(100);
    EXPECT_FALSE(file.Repr()->ExtendFile(-10));  // cuts at the position
    EXPECT_EQ(file.Repr()->Length(), 90);
    EXPECT_EQ(file.Repr()->Location(), 90);
    EXPECT_FALSE(file.Repr()->Extend(20));
    EXPECT_EQ(file.Repr()->Length(), 110);
    EXPECT_EQ(file.Repr()->Location(), 90);
  }
  EXPECT_EQ(Reopened(), Prefix(CompressibleBytes(90, 4), 90, 110));  // zeros where the cut bytes were

  Make(CompressibleBytes(100, 6));
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    EXPECT_FALSE(file.Repr()->ExtendFile(70000));
    EXPECT_EQ(file.Repr()->Length(), 70100);
    EXPECT_EQ(file.Repr()->Allocation(), 70100);
    EXPECT_EQ(file.Repr()->Location(), 0);
    EXPECT_EQ(Encoded(file).Table().GetSegment(0)->DecodedLength(), 65536);
    EXPECT_EQ(Encoded(file).Table().GetSegment(1)->DecodedLength(), 4564);
  }
  EXPECT_EQ(Reopened(), Prefix(CompressibleBytes(100, 6), 100, 70100));

  Make(CompressibleBytes(5 * kS + 100, 5));
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    file.Repr()->Seek(4 * kS);
    file.Repr()->ExtendFile(-(2 * kS + 5));
    EXPECT_EQ(file.Repr()->Length(), 2 * kS - 5);
    EXPECT_EQ(Encoded(file).Table().NumSegments(), 2);
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(-(3 * kS)), qvt_FileBadParameterExc, BadParameter("ExtendFile"));
    EXPECT_EQ(file.Repr()->Length(), 2 * kS - 5);
  }
  EXPECT_EQ(Reopened(), CompressibleBytes(2 * kS - 5, 5));
}

TEST_F(EncodedFileTest, BadArgumentsAndReadOnlyChangesAreRefused) {
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    char byte = 0;
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(&byte, -1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Write"));
    EXPECT_EQ(file.Repr()->Read(&byte, 0), 0);
    EXPECT_EQ(file.Repr()->Length(), 0);
  }
  Make(CompressibleBytes(500, 8));
  const std::vector<unsigned char> before = ReadAll(Name());
  {
    qvt_File file = qvt_File::Open(Name(), 0, true);
    const std::string text = "*** ERROR: Attempt to write to read-only file:\n  " + Name();
    char byte = 'x';
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(&byte, 1), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->Flush(), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(1), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->Extend(-1), qvt_FileReadOnlyExc, text);
    QVT_EXPECT_THROW_TEXT(file.Repr()->TrimToLength(), qvt_FileReadOnlyExc, text);
    EXPECT_EQ(file.Repr()->Length(), 500);
  }
  EXPECT_EQ(ReadAll(Name()), before);
}

// Reading to the end (whole segments, more than the cache holds, so the
// table grows in memory) and an update without changes leave the file
// byte for byte; size-record calls change nothing.
TEST_F(EncodedFileTest, ReadingAndUnchangedUpdatesLeaveTheFileAlone) {
  const Bytes bytes = CompressibleBytes(20 * kS, 9);
  Make(bytes);
  const std::vector<unsigned char> before = ReadAll(Name());
  for (int pass = 0; pass < 2; ++pass) {
    qvt_File file = qvt_File::Open(Name(), 0, true);
    EXPECT_EQ(ReadBack(file), bytes);
    char byte;
    EXPECT_EQ(file.Repr()->Read(&byte, 1), 0);
    file.Repr()->Seek(0);
    EXPECT_EQ(file.Repr()->Read(&byte, 1), 1);
  }
  EXPECT_EQ(ReadAll(Name()), before);
  const Bytes partial = CompressibleBytes(3 * kS + 11, 10);
  Make(partial);
  const std::vector<unsigned char> made = ReadAll(Name());
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    EXPECT_EQ(ReadBack(file), partial);
  }
  EXPECT_EQ(ReadAll(Name()), made);
  qvt_File file = qvt_File::Open(Name(), 1, false);
  file.Repr()->Seek(10);
  file.Repr()->WriteSizeRecord(500);
  file.Repr()->CheckSizeRecord(500);
  file.Repr()->TrimToLength();
  EXPECT_EQ(file.Repr()->Location(), 10);
  EXPECT_EQ(ReadBack(file), partial);
}

TEST_F(EncodedFileTest, InformationalLinesNameTheCompressedKind) {
  qvt_test::ScopedEnv log("KVR_QVT_LOGIFY", "1");
  qvt_test::StderrCapture capture;
  qvt_File::CreateCompressed(Name());
  qvt_File::Open(Name(), 0, true);
  qvt_File::Open(Name(), cow_String());
  qvt_File::Open(Name(), 1, false);
  EXPECT_EQ(capture.Stop(),
            "*** Informational: Creating Compressed File based MDB.\n"
            "*** Informational: Opening Compressed File based MDB.\n"
            "*** Informational: Opening Compressed File based MDB.\n"
            "*** Informational: Updating Compressed File based MDB.\n");
}

TEST_F(EncodedFileTest, SniffNeedsTheSixMagicBytesAndTheContainerIsChecked) {
  for (const std::string head : {"KVRTS", "KVRTSB00", "KVRTSA"}) {
    qvt_test::WriteAll(Name(), std::vector<unsigned char>(head.begin(), head.end()));
    EXPECT_EQ(qvt_FileReprEncoded::IsCompressedFile(Name()), head == "KVRTSA") << head;
  }
  const std::string text = "KVRTSA01 is not a container at all";
  qvt_test::WriteAll(Name(), std::vector<unsigned char>(text.begin(), text.end()));
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(Name(), 0, true), nex_AssertException,
                        "strncmp( magic, MAGIC, sizeof(magic) ) == 0");
  std::vector<unsigned char> bytes(kSector, 0);
  const std::string magic = "KVRTSA00";
  std::copy(magic.begin(), magic.end(), bytes.begin());
  bytes[8] = 2;
  qvt_test::WriteAll(Name(), bytes);
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(Name(), 1, false), nex_AssertException,
                        "tmp[HEADER_VERSION] == CURRENT_VERSION");
  EXPECT_EQ(ReadAll(Name()), bytes);
}

TEST_F(EncodedFileTest, DamagedSegmentsFailTheOpenOrTheReadThatReachesThem) {
  const char* corrupt = "***ERROR: CAE database is corrupt.";
  const Bytes bytes = CompressibleBytes(2 * kS, 13);
  Make(bytes);
  const std::vector<unsigned char> good = ReadAll(Name());
  qvt_test::FlipByte(Name(), kSector + 30);  // segment 0, read at opening
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(Name(), 0, true), nex_TextException, corrupt);
  qvt_test::WriteAll(Name(), good);
  qvt_test::FlipByte(Name(), static_cast<std::int64_t>(LE32(good, 44)) * kSector + 30);
  qvt_File file = qvt_File::Open(Name(), 0, true);
  Bytes got(2 * kS);
  QVT_EXPECT_THROW_TEXT(file.Repr()->Read(got.data(), 2 * kS), nex_TextException, corrupt);
  file.Repr()->Seek(0);
  EXPECT_EQ(file.Repr()->Read(got.data(), 100), 100);  // segment 0 still reads
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100, bytes.begin()));
}

}  // namespace
