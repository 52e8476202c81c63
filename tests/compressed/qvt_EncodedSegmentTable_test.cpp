// Segments and the segment table: the table header's bytes, growth and
// truncation, decode and encode counts, stored data, and damaged segments.
#include "qvt_EncodedSegmentTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvt_CompressedTestSupport.h"
#include "qvt_SegmentBuffer.h"
#include "qvt_TestSupport.h"

using qvt_ctest::kSector;
using qvt_ctest::LE32;
using qvt_test::ReadAll;

namespace {

constexpr int kS = 65536;

class EncodedSegmentTableTest : public ::testing::Test {
 protected:
  std::string Path() const { return m_Dir.File("t.qvt"); }

  std::unique_ptr<qvt_EncodedSegmentTable> Create(int segmentSize = kS) {
    return std::make_unique<qvt_EncodedSegmentTable>(
        Path(), std::make_unique<qvt_ctest::CountingCodec>(&m_Encodes, &m_Decodes), segmentSize,
        qvt_SectorArray::CreateTag{});
  }
  std::unique_ptr<qvt_EncodedSegmentTable> Open(int access = 0) {
    return std::make_unique<qvt_EncodedSegmentTable>(
        Path(), std::make_unique<qvt_ctest::CountingCodec>(&m_Encodes, &m_Decodes), access);
  }

  // Writes bytes into segment index at offset, arming it for the time.
  static void Put(qvt_EncodedSegmentTable& table, int index, int offset, const std::vector<char>& bytes) {
    cow_CountedHld<qvt_EncodedSegment> segment = table.GetSegment(index);
    segment->Arm();
    segment->Write(bytes.data(), offset, static_cast<int>(bytes.size()));
    segment->Disarm();
  }
  static std::vector<char> Get(qvt_EncodedSegmentTable& table, int index) {
    cow_CountedHld<qvt_EncodedSegment> segment = table.GetSegment(index);
    segment->Arm();
    std::vector<char> bytes(static_cast<std::size_t>(segment->DecodedLength()));
    segment->Read(bytes.data(), 0, segment->DecodedLength());
    segment->Disarm();
    return bytes;
  }

  qvt_test::ScratchDir m_Dir;
  int m_Encodes = 0;
  int m_Decodes = 0;
};

TEST_F(EncodedSegmentTableTest, FlushedEmptyTableStoresNoSegmentsAndAFullLastLength) {
  {
    auto table = Create();
    table->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(LE32(bytes, 20), 0x6141C1A5u);
  EXPECT_EQ(LE32(bytes, 24), 1u);
  EXPECT_EQ(LE32(bytes, 28), 65536u);
  EXPECT_EQ(LE32(bytes, 32), 0u);
  EXPECT_EQ(LE32(bytes, 36), 65536u);
  auto table = Open();
  EXPECT_EQ(table->LogicalSize(), 0);
  EXPECT_EQ(table->SegmentSize(), kS);
}

TEST_F(EncodedSegmentTableTest, GettingSegmentTwoOfAnEmptyTableMakesThreeSegments) {
  auto table = Create();
  table->GetSegment(2);
  EXPECT_EQ(table->NumSegments(), 3);
  EXPECT_EQ(table->LastLength(), 0);
  EXPECT_EQ(table->GetSegment(0)->DecodedLength(), kS);
  EXPECT_EQ(table->GetSegment(1)->DecodedLength(), kS);
  EXPECT_FALSE(table->HasEntry(0));
  EXPECT_FALSE(table->HasEntry(1));
  EXPECT_EQ(table->LogicalSize(), 131072);
  // Segments never written read as zeros, whatever buffer they were lent.
  EXPECT_EQ(Get(*table, 1), std::vector<char>(kS, 0));
}

TEST_F(EncodedSegmentTableTest, GrowingPastTheLastSegmentMakesItFull) {
  auto table = Create();
  Put(*table, 0, 0, {'a', 'b', 'c'});
  EXPECT_EQ(table->LogicalSize(), 3);
  table->GetSegment(1);
  EXPECT_EQ(table->GetSegment(0)->DecodedLength(), kS);
  EXPECT_EQ(table->LogicalSize(), kS);
  std::vector<char> expected(kS, 0);
  expected[0] = 'a';
  expected[1] = 'b';
  expected[2] = 'c';
  EXPECT_EQ(Get(*table, 0), expected);
}

TEST_F(EncodedSegmentTableTest, StoredSegmentsReadBackAfterReopen) {
  const std::vector<char> a = qvt_ctest::CompressibleBytes(kS, 1);
  const std::vector<char> b = qvt_ctest::CompressibleBytes(1000, 2);
  {
    auto table = Create();
    Put(*table, 0, 0, a);
    Put(*table, 1, 0, b);
    table->Flush();
    EXPECT_EQ(m_Encodes, 2);
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  EXPECT_EQ(LE32(bytes, 32), 2u);
  EXPECT_EQ(LE32(bytes, 36), 1000u);
  EXPECT_EQ(LE32(bytes, 16), 2u);  // two container entries
  auto table = Open();
  EXPECT_EQ(table->LogicalSize(), kS + 1000);
  EXPECT_EQ(Get(*table, 0), a);
  EXPECT_EQ(Get(*table, 1), b);
  EXPECT_EQ(m_Decodes, 2);
}

TEST_F(EncodedSegmentTableTest, UnchangedSegmentIsNotEncodedAgainAtFlush) {
  {
    auto table = Create();
    Put(*table, 0, 0, qvt_ctest::CompressibleBytes(5000, 3));
    table->Flush();
  }
  m_Encodes = 0;
  auto table = Open(1);
  Get(*table, 0);
  table->Flush();
  EXPECT_EQ(m_Encodes, 0);
  table->Flush();
  EXPECT_EQ(m_Encodes, 0);
}

TEST_F(EncodedSegmentTableTest, ArmDisarmAndRearmDecodesOnce) {
  {
    auto table = Create();
    Put(*table, 0, 0, qvt_ctest::CompressibleBytes(5000, 4));
    table->Flush();
  }
  auto table = Open();
  cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
  segment->Arm();
  segment->Disarm();
  segment->Arm();
  segment->Arm();
  segment->Disarm();
  segment->Disarm();
  EXPECT_EQ(m_Decodes, 1);
  EXPECT_TRUE(segment->IsLoaded());
}

TEST_F(EncodedSegmentTableTest, SetDecodedLengthDirtiesOnlyStoredSegmentsThatChange) {
  auto table = Create();
  cow_CountedHld<qvt_EncodedSegment> fresh = table->GetSegment(0);
  fresh->SetDecodedLength(100);
  EXPECT_FALSE(fresh->IsDirty());
  Put(*table, 0, 0, {'x'});
  table->Flush();
  EXPECT_FALSE(fresh->IsDirty());
  fresh->SetDecodedLength(fresh->DecodedLength());
  EXPECT_FALSE(fresh->IsDirty());
  fresh->SetDecodedLength(50);
  EXPECT_TRUE(fresh->IsDirty());
}

TEST_F(EncodedSegmentTableTest, ShrunkSegmentShowsZerosWhenGrownAgain) {
  auto table = Create();
  Put(*table, 0, 0, std::vector<char>(100, 'y'));
  cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
  segment->SetDecodedLength(10);
  segment->SetDecodedLength(100);
  std::vector<char> expected(100, 0);
  std::fill(expected.begin(), expected.begin() + 10, 'y');
  EXPECT_EQ(Get(*table, 0), expected);
}

TEST_F(EncodedSegmentTableTest, TruncateDropsSegmentsAndTheirStoredBytes) {
  {
    auto table = Create();
    for (int i = 0; i < 4; ++i) Put(*table, i, 0, std::vector<char>(kS, static_cast<char>('a' + i)));
    table->Flush();
    Put(*table, 2, 0, {'!'});  // dirty and parked when cut off
    table->Truncate(1);
    EXPECT_EQ(table->NumSegments(), 1);
    EXPECT_EQ(table->Cache().BufferCount(), 1);
    table->GetSegment(0)->SetDecodedLength(10);
    EXPECT_EQ(table->LogicalSize(), 10);
    // Growing again over the cut-off segments shows zeros, not old bytes.
    table->GetSegment(3)->SetDecodedLength(5);
    EXPECT_EQ(table->LogicalSize(), 3 * kS + 5);
    EXPECT_EQ(Get(*table, 2), std::vector<char>(kS, 0));
    table->Flush();
  }
  auto table = Open();
  EXPECT_EQ(table->LogicalSize(), 3 * kS + 5);
  std::vector<char> first(kS, 0);
  std::fill(first.begin(), first.begin() + 10, 'a');
  EXPECT_EQ(Get(*table, 0), first);
  EXPECT_EQ(Get(*table, 1), std::vector<char>(kS, 0));
  EXPECT_EQ(Get(*table, 2), std::vector<char>(kS, 0));
  EXPECT_EQ(Get(*table, 3), std::vector<char>(5, 0));
}

TEST_F(EncodedSegmentTableTest, TruncateAtTheCountKeepsEverySegment) {
  auto table = Create();
  Put(*table, 0, 0, std::vector<char>(1000, 'q'));
  table->Truncate(1);
  EXPECT_EQ(table->NumSegments(), 1);
  table->GetSegment(0)->SetDecodedLength(500);
  EXPECT_EQ(table->LogicalSize(), 500);
  QVT_EXPECT_THROW_TEXT(table->Truncate(2), nex_AssertException, "index < m_NumSegments");
}

TEST_F(EncodedSegmentTableTest, SegmentMisuseFailsWithItsCondition) {
  auto table = Create();
  cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
  char bytes[8] = {};
  QVT_EXPECT_THROW_TEXT(segment->Disarm(), nex_AssertException, "m_Armed > 0");
  QVT_EXPECT_THROW_TEXT(segment->Read(bytes, 0, 1), nex_AssertException, "m_Armed");
  QVT_EXPECT_THROW_TEXT(segment->Write(bytes, 0, 1), nex_AssertException, "m_Armed");
  QVT_EXPECT_THROW_TEXT(segment->Load(), nex_AssertException, "m_Buffer");
  QVT_EXPECT_THROW_TEXT(segment->Store(nullptr), nex_AssertException, "buffer");
  qvt_SegmentBuffer buffer(kS);
  QVT_EXPECT_THROW_TEXT(segment->Store(&buffer), nex_AssertException, "m_Dirty");
  QVT_EXPECT_THROW_TEXT(segment->Reclaim(0, nullptr), nex_AssertException, "buffer");
  segment->Arm();
  QVT_EXPECT_THROW_TEXT(segment->Load(), nex_AssertException, "!m_Loaded");
  QVT_EXPECT_THROW_TEXT(segment->Read(bytes, 0, 1), nex_AssertException, "first + length <= m_DecodedLength");
  QVT_EXPECT_THROW_TEXT(segment->Write(bytes, kS - 4, 8), nex_AssertException,
                        "firstOut + length <= m_Buffer->Size()");
  QVT_EXPECT_THROW_TEXT(segment->Reclaim(0, &buffer), nex_AssertException, "!m_Armed");
  segment->Disarm();
}

TEST_F(EncodedSegmentTableTest, SegmentBufferRefusesToGrowByShrinking) {
  qvt_SegmentBuffer buffer(10);
  buffer.Fill(7);
  qvt_SegmentBuffer copy(buffer);
  buffer.Shrink(4);
  EXPECT_EQ(buffer.Size(), 4);
  QVT_EXPECT_THROW_TEXT(buffer.Shrink(5), nex_AssertException, "newSize <= m_Size");
  EXPECT_EQ(copy.Size(), 10);
  EXPECT_EQ(copy.Data()[9], 7);
  qvt_SegmentBuffer empty;
  empty.Swap(copy);
  EXPECT_EQ(copy.Size(), 0);
  EXPECT_EQ(copy.Data(), nullptr);
  EXPECT_EQ(empty.Size(), 10);
}

// Damaged tables and segments.

class DamagedTableTest : public EncodedSegmentTableTest {
 protected:
  void SetUp() override {
    auto table = Create();
    Put(*table, 0, 0, qvt_ctest::CompressibleBytes(kS, 5));
    Put(*table, 1, 0, qvt_ctest::CompressibleBytes(300, 6));
    table->Flush();
  }
  std::string Corrupt(const std::string& detail) const {
    return "qvt_EncodedSegmentTable::Open - Compressed file '" + Path() + "' is corrupt: " + detail + ".";
  }
};

TEST_F(DamagedTableTest, HeaderFaultsFailWithTheirCondition) {
  qvt_ctest::PokeLE32(Path(), 20, 0x6141C1A4u);
  QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, "tmp[0] == MAGIC");
  qvt_ctest::PokeLE32(Path(), 20, 0x6141C1A5u);
  qvt_ctest::PokeLE32(Path(), 24, 2);
  QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, "tmp[1] == CURRENT_VERSION");
  qvt_ctest::PokeLE32(Path(), 24, 1);
  qvt_ctest::PokeLE32(Path(), 12, 16);  // a user header too short for the table
  qvt_ctest::PokeLE32(Path(), 16, 0);   // and no directory behind it
  QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, "cnt == sizeof(tmp)");
}

TEST_F(DamagedTableTest, SegmentSizeZeroOrAboveOneMiBIsRefused) {
  qvt_ctest::PokeLE32(Path(), 28, 0);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt("segment size 0 is not between 1 and 1048576"));
  qvt_ctest::PokeLE32(Path(), 28, 0x100001);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt("segment size 1048577 is not between 1 and 1048576"));
  qvt_ctest::PokeLE32(Path(), 28, 0xFFFFFFFFu);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt("segment size 4294967295 is not between 1 and 1048576"));
}

TEST_F(DamagedTableTest, CountsThatGiveNoSizeAreRefused) {
  qvt_ctest::PokeLE32(Path(), 36, kS + 1);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt("2 segments with a last length of 65537"));
  qvt_ctest::PokeLE32(Path(), 32, 0);
  qvt_ctest::PokeLE32(Path(), 36, 0);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt("0 segments with a last length of 0"));
  qvt_ctest::PokeLE32(Path(), 32, 0x80000000u);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt("2147483648 segments with a last length of 0"));
}

TEST_F(DamagedTableTest, CreatingWithABadSegmentSizeLeavesThePathAlone) {
  const std::vector<unsigned char> before = ReadAll(Path());
  QVT_EXPECT_THROW_TEXT(Create(0), nex_TextException,
                        "qvt_EncodedSegmentTable::Create - Compressed file '" + Path() +
                            "' is corrupt: segment size 0 is not between 1 and 1048576.");
  EXPECT_EQ(ReadAll(Path()), before);
}

TEST_F(DamagedTableTest, DamagedCompressedBytesReportACorruptDatabase) {
  qvt_test::FlipByte(Path(), kSector + 4 + 10);  // inside segment 0's zlib stream
  auto table = Open();
  cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
  QVT_EXPECT_THROW_TEXT(segment->Arm(), nex_TextException, "***ERROR: CAE database is corrupt.");
  EXPECT_EQ(segment->ArmCount(), 0);
  EXPECT_EQ(table->Cache().BufferCount(), 0);
  // Segment 1 is intact and still reads.
  EXPECT_EQ(Get(*table, 1), qvt_ctest::CompressibleBytes(300, 6));
}

TEST_F(DamagedTableTest, TruncatedCompressedStreamReportsACorruptDatabase) {
  const std::vector<unsigned char> bytes = ReadAll(Path());
  const std::uint32_t count = LE32(bytes, kSector);
  qvt_ctest::PokeLE32(Path(), kSector, count - 10);
  auto table = Open();
  QVT_EXPECT_THROW_TEXT(table->GetSegment(0)->Arm(), nex_TextException, "***ERROR: CAE database is corrupt.");
}

TEST_F(DamagedTableTest, StoredLengthBeyondAnyEncodingIsReportedCorrupt) {
  // Give segment 1's entry a huge chain: the file is long enough for it.
  {
    auto table = Open(1);
    Put(*table, 5, 0, qvt_ctest::CompressibleBytes(kS, 9));
  }
  std::vector<unsigned char> bytes = ReadAll(Path());
  bytes.resize(bytes.size() + 40 * kSector, 0);
  qvt_test::WriteAll(Path(), bytes);
  const std::uint32_t first = LE32(bytes, 44);
  qvt_ctest::PokeLE32(Path(), first * kSector, 100000);
  auto table = Open();
  QVT_EXPECT_THROW_TEXT(table->GetSegment(1)->Arm(), nex_TextException,
                        "qvt_EncodedSegment::Load - Compressed file '" + Path() +
                            "' is corrupt: segment 1 has stored length 100000, more than a segment can take.");
}

}  // namespace
