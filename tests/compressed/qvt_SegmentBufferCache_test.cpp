// The segment buffer cache: 1 MiB of buffers, the recency order of reclaims,
// storing a dirty segment before its buffer moves, and the seventeenth
// buffer only when every buffer is armed.
#include "qvt_SegmentBufferCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qvt_CompressedTestSupport.h"
#include "qvt_EncodedSegmentTable.h"
#include "qvt_TestSupport.h"

namespace {

constexpr int kS = 65536;

class SegmentBufferCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Table = std::make_unique<qvt_EncodedSegmentTable>(
        m_Dir.File("c.qvt"), std::make_unique<qvt_ctest::CountingCodec>(&m_Encodes, &m_Decodes), kS,
        qvt_SectorArray::CreateTag{});
  }
  qvt_SegmentBufferCache& Cache() { return m_Table->Cache(); }
  cow_CountedHld<qvt_EncodedSegment> Segment(int index) { return m_Table->GetSegment(index); }

  // Arms, writes one byte at offset 0 of, and disarms each segment in turn.
  void Touch(int first, int last, bool write) {
    for (int i = first; i <= last; ++i) {
      cow_CountedHld<qvt_EncodedSegment> segment = Segment(i);
      segment->Arm();
      if (write) {
        const char byte = static_cast<char>('A' + i % 26);
        segment->Write(&byte, 0, 1);
      }
      segment->Disarm();
    }
  }

  qvt_test::ScratchDir m_Dir;
  int m_Encodes = 0;
  int m_Decodes = 0;
  std::unique_ptr<qvt_EncodedSegmentTable> m_Table;
};

TEST_F(SegmentBufferCacheTest, LimitIsOneMiBOfSegments) {
  EXPECT_EQ(Cache().Limit(), 16);
  EXPECT_EQ(Cache().BufferSize(), kS);
  EXPECT_EQ(qvt_SegmentBufferCache(4096).Limit(), 256);
  EXPECT_EQ(qvt_SegmentBufferCache(1000).Limit(), 1048);
  EXPECT_EQ(qvt_SegmentBufferCache(0x100000).Limit(), 1);
}

TEST_F(SegmentBufferCacheTest, SixteenParkedBuffersStayThenTheOldestIsReclaimedAndStored) {
  Touch(0, 15, true);
  EXPECT_EQ(Cache().BufferCount(), 16);
  EXPECT_EQ(m_Encodes, 0);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(Cache().IsParked(i)) << i;

  Touch(16, 16, false);
  EXPECT_EQ(Cache().BufferCount(), 16);
  EXPECT_EQ(m_Encodes, 1);
  EXPECT_TRUE(m_Table->HasEntry(0));
  EXPECT_FALSE(m_Table->HasEntry(1));
  EXPECT_FALSE(Segment(0)->IsLoaded());
  EXPECT_FALSE(Segment(0)->IsDirty());
  EXPECT_FALSE(Cache().IsParked(0));

  // Segment 0 comes back from its stored bytes.
  cow_CountedHld<qvt_EncodedSegment> zero = Segment(0);
  zero->Arm();
  char byte = 0;
  zero->Read(&byte, 0, 1);
  zero->Disarm();
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(m_Decodes, 1);
  EXPECT_FALSE(Segment(1)->IsLoaded());  // the next oldest made room for it
}

// A clean victim is not stored; a re-armed segment moves to the end of the
// recency list; an armed one is never reclaimed.
TEST_F(SegmentBufferCacheTest, ReclaimsFollowRecencyAndSpareArmedSegments) {
  cow_CountedHld<qvt_EncodedSegment> held = Segment(0);
  held->Arm();
  Touch(1, 15, false);
  Touch(1, 1, false);  // segment 1 is now the most recent
  Touch(16, 21, false);
  EXPECT_EQ(m_Encodes, 0);
  EXPECT_EQ(m_Decodes, 0);  // nothing was ever stored, so nothing decoded
  EXPECT_EQ(Cache().BufferCount(), 16);
  for (int i = 0; i <= 21; ++i) EXPECT_EQ(Segment(i)->IsLoaded(), i < 2 || i > 7) << i;
  held->Disarm();
}

TEST_F(SegmentBufferCacheTest, SeventeenthBufferOnlyWhenAllSixteenAreArmed) {
  std::vector<cow_CountedHld<qvt_EncodedSegment>> held;
  for (int i = 0; i < 16; ++i) {
    held.push_back(Segment(i));
    held.back()->Arm();
  }
  EXPECT_EQ(Cache().BufferCount(), 16);
  held.push_back(Segment(16));
  held.back()->Arm();
  EXPECT_EQ(Cache().BufferCount(), 17);
  for (int i = 0; i <= 16; ++i) EXPECT_TRUE(held[static_cast<std::size_t>(i)]->IsLoaded());
  for (auto& segment : held) segment->Disarm();
  // Once buffers can be reclaimed again, the count stops growing.
  Touch(17, 30, false);
  EXPECT_EQ(Cache().BufferCount(), 17);
}

TEST_F(SegmentBufferCacheTest, DecodedBuffersStayWithinOneMiBOverALongWalk) {
  Touch(0, 200, true);
  EXPECT_EQ(Cache().BufferCount(), 16);
  EXPECT_EQ(m_Encodes, 201 - 16);
  m_Table->Flush();
  EXPECT_EQ(m_Encodes, 201);
  for (int i = 0; i <= 200; i += 37) {
    cow_CountedHld<qvt_EncodedSegment> segment = Segment(i);
    segment->Arm();
    char byte = 0;
    segment->Read(&byte, 0, 1);
    segment->Disarm();
    EXPECT_EQ(byte, static_cast<char>('A' + i % 26)) << i;
  }
  EXPECT_EQ(Cache().BufferCount(), 16);
}

TEST_F(SegmentBufferCacheTest, ReleaseOfAnIndexNeverArmedFails) {
  qvt_EncodedSegment* holder = Segment(0).Get();
  QVT_EXPECT_THROW_TEXT(Cache().Release(0, holder), nex_AssertException, "index < m_Entries.Size()");
  Touch(3, 3, false);
  QVT_EXPECT_THROW_TEXT(Cache().Release(1, holder), nex_AssertException, "entry.m_StreamBuffer.Size() > 0");
  QVT_EXPECT_THROW_TEXT(Cache().Release(3, nullptr), nex_AssertException, "holder");
}

TEST_F(SegmentBufferCacheTest, DiscardedSegmentsAreNeverReclaimedThroughTheirOldObjects) {
  Touch(0, 15, true);
  m_Table->Truncate(4);  // segments 4 to 15 go, parked and dirty
  EXPECT_EQ(Cache().BufferCount(), 4);
  // Filling the cache again must not call the destroyed segments.
  Touch(20, 40, true);
  EXPECT_EQ(Cache().BufferCount(), 16);
  EXPECT_EQ(m_Encodes, 4 + 21 - 16);
  for (int i = 4; i < 16; ++i) EXPECT_FALSE(m_Table->HasEntry(i)) << i;
}

}  // namespace
