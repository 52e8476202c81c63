// Segments, the segment table and its cache: header bytes, decode and encode counts, 1 MiB of
// buffers reclaimed oldest first (a dirty one stored first, an armed one never), damaged segments.
#include "qvt_EncodedSegmentTable.h"

#include <memory>
#include <string>
#include <vector>

#include "qvt_CodecZip.h"
#include "qvt_CompressedTestSupport.h"
#include "qvt_SegmentBuffer.h"
#include "qvt_SegmentBufferCache.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace qvt_ctest {
namespace {

using qvt_test::ReadAll;

int g_Encodes, g_Decodes;
// The zlib codec, counting its calls (derived, so it gives no copies for other threads).
struct CountingCodec : qvt_CodecZip {
  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override {
    ++g_Encodes;
    qvt_CodecZip::Encode(out, in, length);
  }
  int Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) override {
    ++g_Decodes;
    return qvt_CodecZip::Decode(out, in);
  }
};

class EncodedSegmentTableTest : public ::testing::Test {
 protected:
  EncodedSegmentTableTest() { g_Encodes = g_Decodes = 0; }
  std::string Path() const { return m_Dir.File("t.qvt"); }
  std::unique_ptr<qvt_EncodedSegmentTable> Create(int segmentSize = kS) {
    return std::make_unique<qvt_EncodedSegmentTable>(Path(), std::make_unique<CountingCodec>(), segmentSize,
                                                     qvt_SectorArray::CreateTag{});
  }
  std::unique_ptr<qvt_EncodedSegmentTable> Open(int access = 0) {
    return std::make_unique<qvt_EncodedSegmentTable>(Path(), std::make_unique<CountingCodec>(), access);
  }
  static void Put(qvt_EncodedSegmentTable& table, int index, const Bytes& bytes) {
    cow_CountedHld<qvt_EncodedSegment> segment = table.GetSegment(index);
    segment->Arm();
    segment->Write(bytes.data(), 0, static_cast<int>(bytes.size()));
    segment->Disarm();
  }
  static Bytes Get(qvt_EncodedSegmentTable& table, int index) {
    cow_CountedHld<qvt_EncodedSegment> segment = table.GetSegment(index);
    segment->Arm();
    Bytes bytes(static_cast<std::size_t>(segment->DecodedLength()));
    segment->Read(bytes.data(), 0, segment->DecodedLength());
    segment->Disarm();
    return bytes;
  }
  // Segment 0 full, segment 1 of 300 bytes, flushed and closed.
  void MakeFile() {
    auto table = Create();
    Put(*table, 0, CompressibleBytes(kS, 5));
    Put(*table, 1, CompressibleBytes(300, 6));
    table->Flush();
  }

  qvt_test::ScratchDir m_Dir;
};

TEST_F(EncodedSegmentTableTest, HeaderWordsOfEmptyAndStoredTables) {
  Create()->Flush();
  const std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSector));
  // container entries, magic, version, segment size, segment count, length of the last one
  const std::vector<std::int64_t> header = {16, 20, 24, 28, 32, 36};
  EXPECT_EQ(At(bytes, header), (Words{0, 0x6141C1A5u, 1, 65536, 0, 65536}));
  EXPECT_EQ(Open()->LogicalSize(), 0);
  MakeFile();
  EXPECT_EQ(g_Encodes, 2);
  EXPECT_EQ(At(ReadAll(Path()), header), (Words{2, 0x6141C1A5u, 1, 65536, 2, 300}));
  g_Encodes = g_Decodes = 0;
  auto table = Open(1);
  EXPECT_EQ(table->SegmentSize(), kS);
  EXPECT_EQ(table->LogicalSize(), kS + 300);
  EXPECT_EQ(Get(*table, 1), CompressibleBytes(300, 6));
  // Decoded once however often armed, encoded only when changed.
  cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
  for (int i = 0; i < 2; ++i) {
    segment->Arm();
    EXPECT_EQ(Get(*table, 0), CompressibleBytes(kS, 5));
    segment->Disarm();
  }
  EXPECT_EQ(g_Decodes, 2);
  table->Flush();
  EXPECT_EQ(g_Encodes, 0);
  segment->SetDecodedLength(segment->DecodedLength());
  EXPECT_FALSE(segment->IsDirty());
  segment->SetDecodedLength(50);
  EXPECT_TRUE(segment->IsDirty());
  table->Flush();
  table->Flush();
  EXPECT_EQ(g_Encodes, 1);
  cow_CountedHld<qvt_EncodedSegment> fresh = table->GetSegment(3);
  fresh->SetDecodedLength(100);
  EXPECT_FALSE(fresh->IsDirty());
}

// Arms, writes one byte at offset 0 of (when write), and disarms each segment from first to last.
void Touch(qvt_EncodedSegmentTable& table, int first, int last, bool write) {
  for (int i = first; i <= last; ++i) {
    cow_CountedHld<qvt_EncodedSegment> segment = table.GetSegment(i);
    segment->Arm();
    const char byte = static_cast<char>('A' + i % 26);
    if (write) segment->Write(&byte, 0, 1);
    segment->Disarm();
  }
}

TEST_F(EncodedSegmentTableTest, CacheKeepsOneMiBAndReclaimsTheOldestFirst) {
  EXPECT_EQ(qvt_SegmentBufferCache(4096).Limit(), 256);
  EXPECT_EQ(qvt_SegmentBufferCache(1000).Limit(), 1048);
  EXPECT_EQ(qvt_SegmentBufferCache(0x100000).Limit(), 1);
  auto table = Create();
  EXPECT_EQ(table->Cache().Limit(), 16);
  EXPECT_EQ(table->Cache().BufferSize(), kS);
  Touch(*table, 0, 15, true);
  EXPECT_EQ(g_Encodes, 0);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(table->Cache().IsParked(i)) << i;
  Touch(*table, 16, 16, false);
  EXPECT_EQ(table->Cache().BufferCount(), 16);
  EXPECT_EQ(g_Encodes, 1);
  EXPECT_TRUE(table->HasEntry(0));
  EXPECT_FALSE(table->HasEntry(1));
  EXPECT_FALSE(table->GetSegment(0)->IsLoaded());
  EXPECT_FALSE(table->GetSegment(0)->IsDirty());
  EXPECT_FALSE(table->Cache().IsParked(0));
  EXPECT_EQ(Get(*table, 0)[0], 'A');  // back from its stored bytes
  EXPECT_EQ(g_Decodes, 1);
  EXPECT_FALSE(table->GetSegment(1)->IsLoaded());  // the next oldest made room for it
  // A long walk stays within 1 MiB and every byte comes back.
  table.reset();
  table = Create();
  g_Encodes = g_Decodes = 0;
  Touch(*table, 0, 200, true);
  EXPECT_EQ(table->Cache().BufferCount(), 16);
  EXPECT_EQ(g_Encodes, 201 - 16);
  table->Flush();
  EXPECT_EQ(g_Encodes, 201);
  for (int i = 0; i <= 200; i += 37) EXPECT_EQ(Get(*table, i)[0], static_cast<char>('A' + i % 26)) << i;
  EXPECT_EQ(table->Cache().BufferCount(), 16);
  // Discarded segments, parked and dirty, are never reclaimed through their old objects.
  Touch(*table, 0, 15, true);
  table->Truncate(4);
  EXPECT_EQ(table->Cache().BufferCount(), 4);
  Touch(*table, 20, 40, true);
  EXPECT_EQ(table->Cache().BufferCount(), 16);
  QVT_EXPECT_THROW_TEXT(table->Truncate(42), nex_AssertException, "index < m_NumSegments");
  // Their stored bytes never come back, here or after reopening.
  table->Flush();
  for (int i = 4; i < 20; ++i) EXPECT_EQ(Get(*table, i), Bytes(kS, 0)) << i;
  table.reset();
  table = Open(1);
  for (int i = 4; i < 20; ++i) EXPECT_EQ(Get(*table, i), Bytes(kS, 0)) << i;
  table->Truncate(30);  // the new last segment, not in hand, counts as full
  EXPECT_EQ(table->LogicalSize(), 30 * kS);
}

// A clean victim is not stored; a re-armed segment becomes the most recent; a seventeenth buffer
// comes only when all sixteen are armed.
TEST_F(EncodedSegmentTableTest, CacheSparesArmedSegments) {
  auto table = Create();
  cow_CountedHld<qvt_EncodedSegment> held = table->GetSegment(0);
  held->Arm();
  Touch(*table, 1, 15, false);
  Touch(*table, 1, 1, false);  // segment 1 is now the most recent
  Touch(*table, 16, 21, false);
  EXPECT_EQ(g_Encodes + g_Decodes, 0);
  EXPECT_EQ(table->Cache().BufferCount(), 16);
  for (int i = 0; i <= 21; ++i) EXPECT_EQ(table->GetSegment(i)->IsLoaded(), i < 2 || i > 7) << i;
  std::vector<cow_CountedHld<qvt_EncodedSegment>> armed;
  for (int i = 1; i <= 16; ++i) {
    armed.push_back(table->GetSegment(i));
    armed.back()->Arm();
  }
  EXPECT_EQ(table->Cache().BufferCount(), 17);
  for (auto& segment : armed) segment->Disarm();
  held->Disarm();
  Touch(*table, 17, 30, false);
  EXPECT_EQ(table->Cache().BufferCount(), 17);
  QVT_EXPECT_THROW_TEXT(table->Cache().Release(100, held.Get()), nex_AssertException,
                        "index < m_Entries.Size()");
}

// Swapping is left to the cache, which lends buffers by it.
TEST(SegmentBufferTest, ReuseKeepsTheMemoryItHolds) {
  qvt_SegmentBuffer small(10);
  small.Shrink(4);
  QVT_EXPECT_THROW_TEXT(small.Shrink(5), nex_AssertException, "newSize <= m_Size");
  const char* memory = small.Data();
  small.Reuse(10);  // back within the memory it holds
  EXPECT_EQ(small.Data(), memory);
  small.Reuse(11);
  EXPECT_EQ(small.Size(), 11);
}

// A segment zlib cannot restore leaves nothing armed or held; a bad segment size leaves the path
// alone. Every other damage is in the compressed file's table of damages.
TEST_F(EncodedSegmentTableTest, DamagedSegmentsAndBadSizesLeaveNothingBehind) {
  MakeFile();
  qvt_test::FlipByte(Path(), kSector + 4 + 10);  // inside segment 0's zlib stream
  {
    auto table = Open();
    cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
    QVT_EXPECT_THROW_TEXT(segment->Arm(), nex_TextException, "***ERROR: CAE database is corrupt.");
    EXPECT_EQ(segment->ArmCount(), 0);
    EXPECT_EQ(table->Cache().BufferCount(), 0);
    EXPECT_EQ(Get(*table, 1), CompressibleBytes(300, 6));
  }
  const std::vector<unsigned char> before = ReadAll(Path());
  QVT_EXPECT_THROW_TEXT(Create(0), nex_TextException,
                        "qvt_EncodedSegmentTable::Create - Compressed file '" + Path() +
                            "' is corrupt: segment size 0 is not between 1 and 1048576.");
  EXPECT_EQ(ReadAll(Path()), before);
}

}  // namespace
}  // namespace qvt_ctest
