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

using qvt_ctest::kSector;
using qvt_ctest::LE32;
using qvt_test::ReadAll;

namespace {

constexpr int kS = 65536;

class EncodedFileTest : public ::testing::Test {
 protected:
  std::string Name() const { return m_Dir.File("c.mdb"); }
  static qvt_FileReprEncoded& Encoded(const qvt_File& file) { return dynamic_cast<qvt_FileReprEncoded&>(*file.Repr()); }

  // A compressed file holding bytes, closed.
  void Make(const std::vector<char>& bytes) {
    qvt_File file = qvt_File::CreateCompressed(Name());
    if (!bytes.empty()) {
      ASSERT_EQ(file.Repr()->Write(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    }
  }
  std::vector<char> ReadBack(qvt_File& file) {
    std::vector<char> bytes(static_cast<std::size_t>(file.Repr()->Length()));
    file.Repr()->Seek(0);
    if (!bytes.empty()) {
      EXPECT_EQ(file.Repr()->Read(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    }
    return bytes;
  }
  std::string ReadOnlyText() const { return "*** ERROR: Attempt to write to read-only file:\n  " + Name(); }

  qvt_test::ScratchDir m_Dir;
};

TEST_F(EncodedFileTest, EmptyFileIsOneSectorWithOneEmptySegment) {
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    EXPECT_FALSE(file.ReadOnly());
    EXPECT_EQ(file.Repr()->Length(), 0);
    file.Repr()->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Name());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "KVRTSA00");
  EXPECT_EQ(LE32(bytes, 28), 65536u);
  EXPECT_EQ(LE32(bytes, 32), 1u);
  EXPECT_EQ(LE32(bytes, 36), 0u);
  EXPECT_TRUE(qvt_FileReprEncoded::IsCompressedFile(Name()));
  qvt_File file = qvt_File::Open(Name(), 0, true);
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_EQ(file.Repr()->Length(), 0);
  EXPECT_EQ(file.Repr()->FileLength(), 0);
  EXPECT_EQ(file.Repr()->Allocation(), 0);
}

TEST_F(EncodedFileTest, WritingOneWholeSegmentMovesToTheNextAtOffsetZero) {
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(kS, 1);
  {
    qvt_File file = qvt_File::CreateCompressed(Name());
    EXPECT_EQ(file.Repr()->Write(bytes.data(), kS), kS);
    EXPECT_EQ(Encoded(file).CurrentSegment(), 1);
    EXPECT_EQ(Encoded(file).CurrentOffset(), 0);
    EXPECT_EQ(file.Repr()->Location(), kS);
    EXPECT_EQ(file.Repr()->Length(), kS);
    EXPECT_EQ(file.Repr()->Allocation(), kS);
  }
  qvt_File file = qvt_File::Open(Name(), 0, true);
  EXPECT_EQ(file.Repr()->Length(), kS);
  EXPECT_EQ(ReadBack(file), bytes);
}

TEST_F(EncodedFileTest, ReadThatReachesTheEndStopsThere) {
  Make(qvt_ctest::CompressibleBytes(65540, 2));
  qvt_File file = qvt_File::Open(Name(), 0, true);
  char buffer[20];
  file.Repr()->Seek(65530);
  EXPECT_EQ(file.Repr()->Read(buffer, 20), 10);
  EXPECT_EQ(file.Repr()->Location(), 65540);
  EXPECT_EQ(file.Repr()->Read(buffer, 20), 0);
  EXPECT_EQ(std::string(buffer, 10), std::string(&qvt_ctest::CompressibleBytes(65540, 2)[65530], 10));
}

TEST_F(EncodedFileTest, ReadEndingOnASegmentBoundaryContinuesInTheNextSegment) {
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(3 * kS + 7, 3);
  Make(bytes);
  qvt_File file = qvt_File::Open(Name(), 0, true);
  std::vector<char> got(bytes.size());
  file.Repr()->Seek(kS - 3);
  EXPECT_EQ(file.Repr()->Read(got.data(), 3), 3);
  EXPECT_EQ(Encoded(file).CurrentSegment(), 1);
  EXPECT_EQ(file.Repr()->Read(got.data() + 3, 2 * kS), 2 * kS);
  EXPECT_EQ(file.Repr()->Read(got.data() + 3 + 2 * kS, 100), 7);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2 * kS + 10, bytes.begin() + kS - 3));
}

TEST_F(EncodedFileTest, NegativeExtensionCutsAtThePosition) {
  Make(qvt_ctest::CompressibleBytes(1000, 4));
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    file.Repr()->Seek(100);
    EXPECT_FALSE(file.Repr()->ExtendFile(-10));
    EXPECT_EQ(file.Repr()->Length(), 90);
    EXPECT_EQ(file.Repr()->Location(), 90);
    // Growing again shows zeros where the cut-off bytes were.
    EXPECT_FALSE(file.Repr()->Extend(20));
    EXPECT_EQ(file.Repr()->Length(), 110);
    EXPECT_EQ(file.Repr()->Location(), 90);
  }
  qvt_File file = qvt_File::Open(Name(), 0, true);
  std::vector<char> expected = qvt_ctest::CompressibleBytes(90, 4);
  expected.resize(110, 0);
  EXPECT_EQ(ReadBack(file), expected);
}

TEST_F(EncodedFileTest, NegativeExtensionAcrossSegmentsDropsTheTail) {
  Make(qvt_ctest::CompressibleBytes(5 * kS + 100, 5));
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    file.Repr()->Seek(4 * kS);
    file.Repr()->ExtendFile(-(2 * kS + 5));
    EXPECT_EQ(file.Repr()->Length(), 2 * kS - 5);
    EXPECT_EQ(Encoded(file).Table().NumSegments(), 2);
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(-(3 * kS)), qvt_FileBadParameterExc,
                          "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::ExtendFile.");
    EXPECT_EQ(file.Repr()->Length(), 2 * kS - 5);
  }
  qvt_File file = qvt_File::Open(Name(), 0, true);
  EXPECT_EQ(ReadBack(file), qvt_ctest::CompressibleBytes(2 * kS - 5, 5));
}

TEST_F(EncodedFileTest, ExtendingBy70000GivesAFullSegmentAndTheRest) {
  Make(qvt_ctest::CompressibleBytes(100, 6));
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    EXPECT_FALSE(file.Repr()->ExtendFile(70000));
    EXPECT_EQ(file.Repr()->Length(), 70100);
    EXPECT_EQ(file.Repr()->Allocation(), 70100);
    EXPECT_EQ(file.Repr()->Location(), 0);
    EXPECT_EQ(Encoded(file).Table().GetSegment(0)->DecodedLength(), 65536);
    EXPECT_EQ(Encoded(file).Table().GetSegment(1)->DecodedLength(), 4564);
  }
  qvt_File file = qvt_File::Open(Name(), 0, true);
  std::vector<char> expected = qvt_ctest::CompressibleBytes(100, 6);
  expected.resize(70100, 0);
  EXPECT_EQ(ReadBack(file), expected);
}

TEST_F(EncodedFileTest, SeekToTheEndIsAllowedOneByteFurtherIsNot) {
  Make(qvt_ctest::CompressibleBytes(kS, 7));
  qvt_File file = qvt_File::Open(Name(), 0, true);
  file.Repr()->Seek(kS);
  EXPECT_EQ(Encoded(file).CurrentSegment(), 1);
  QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(kS + 1), nex_AssertException, "location <= m_LogicalFileSize");
  QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(-1), qvt_FileBadParameterExc,
                        "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::Seek.");
  EXPECT_EQ(file.Repr()->Location(), kS);
}

TEST_F(EncodedFileTest, BadArgumentsToReadAndWriteAreRefused) {
  qvt_File file = qvt_File::CreateCompressed(Name());
  char byte = 0;
  QVT_EXPECT_THROW_TEXT(file.Repr()->Read(&byte, -1), qvt_FileBadParameterExc,
                        "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::Read.");
  QVT_EXPECT_THROW_TEXT(file.Repr()->Read(nullptr, 1), qvt_FileBadParameterExc,
                        "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::Read.");
  QVT_EXPECT_THROW_TEXT(file.Repr()->Write(nullptr, 1), qvt_FileBadParameterExc,
                        "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::Write.");
  EXPECT_EQ(file.Repr()->Read(&byte, 0), 0);
  EXPECT_EQ(file.Repr()->Length(), 0);
}

TEST_F(EncodedFileTest, ReadOnlyFileRefusesEveryChange) {
  Make(qvt_ctest::CompressibleBytes(500, 8));
  const std::vector<unsigned char> before = ReadAll(Name());
  {
    qvt_File file = qvt_File::Open(Name(), 0, true);
    char byte = 'x';
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(&byte, 1), qvt_FileReadOnlyExc, ReadOnlyText());
    QVT_EXPECT_THROW_TEXT(file.Repr()->Flush(), qvt_FileReadOnlyExc, ReadOnlyText());
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(1), qvt_FileReadOnlyExc, ReadOnlyText());
    QVT_EXPECT_THROW_TEXT(file.Repr()->Extend(-1), qvt_FileReadOnlyExc, ReadOnlyText());
    QVT_EXPECT_THROW_TEXT(file.Repr()->TrimToLength(), qvt_FileReadOnlyExc, ReadOnlyText());
    EXPECT_EQ(file.Repr()->Length(), 500);
  }
  EXPECT_EQ(ReadAll(Name()), before);
}

TEST_F(EncodedFileTest, ReadOnlyFileReadToItsEndIsLeftByteForByte) {
  // Whole segments, so that reading to the end grows the table in memory,
  // and more of them than the cache holds.
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(20 * kS, 9);
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
}

TEST_F(EncodedFileTest, UpdateWithoutChangesRewritesOnlyTheHeaders) {
  Make(qvt_ctest::CompressibleBytes(3 * kS + 11, 10));
  const std::vector<unsigned char> before = ReadAll(Name());
  {
    qvt_File file = qvt_File::Open(Name(), 1, false);
    ReadBack(file);
  }
  EXPECT_EQ(ReadAll(Name()), before);
}

TEST_F(EncodedFileTest, SizeRecordOperationsLeaveTheFileAlone) {
  Make(qvt_ctest::CompressibleBytes(1000, 11));
  qvt_File file = qvt_File::Open(Name(), 1, false);
  file.Repr()->Seek(10);
  file.Repr()->WriteSizeRecord(500);
  file.Repr()->CheckSizeRecord(500);
  file.Repr()->TrimToLength();
  EXPECT_EQ(file.Repr()->Location(), 10);
  EXPECT_EQ(file.Repr()->Length(), 1000);
  EXPECT_EQ(ReadBack(file), qvt_ctest::CompressibleBytes(1000, 11));
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

TEST_F(EncodedFileTest, SniffNeedsTheSixMagicBytes) {
  qvt_test::WriteAll(Name(), {'K', 'V', 'R', 'T', 'S'});
  EXPECT_FALSE(qvt_FileReprEncoded::IsCompressedFile(Name()));
  qvt_test::WriteAll(Name(), {'K', 'V', 'R', 'T', 'S', 'B', '0', '0'});
  EXPECT_FALSE(qvt_FileReprEncoded::IsCompressedFile(Name()));
  qvt_test::WriteAll(Name(), {'K', 'V', 'R', 'T', 'S', 'A'});
  EXPECT_TRUE(qvt_FileReprEncoded::IsCompressedFile(Name()));
}

TEST_F(EncodedFileTest, PlainFileStartingWithTheMagicFailsOnTheContainer) {
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

TEST_F(EncodedFileTest, DamagedSegmentZeroRefusesTheOpen) {
  Make(qvt_ctest::CompressibleBytes(2 * kS, 12));
  qvt_test::FlipByte(Name(), kSector + 30);
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(Name(), 0, true), nex_TextException, "***ERROR: CAE database is corrupt.");
}

TEST_F(EncodedFileTest, DamagedLaterSegmentFailsTheReadThatReachesIt) {
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(2 * kS, 13);
  Make(bytes);
  const std::vector<unsigned char> raw = ReadAll(Name());
  qvt_test::FlipByte(Name(), static_cast<std::int64_t>(LE32(raw, 44)) * kSector + 30);
  qvt_File file = qvt_File::Open(Name(), 0, true);
  std::vector<char> got(2 * kS);
  QVT_EXPECT_THROW_TEXT(file.Repr()->Read(got.data(), 2 * kS), nex_TextException,
                        "***ERROR: CAE database is corrupt.");
  // Segment 0 is still readable.
  file.Repr()->Seek(0);
  EXPECT_EQ(file.Repr()->Read(got.data(), 100), 100);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100, bytes.begin()));
}

}  // namespace
