// The compressed file's layers: the sector container's exact bytes; the segment table and its 1 MiB
// cache, reclaimed oldest first (a dirty buffer stored first, an armed one never); and the file through
// qvt_File: refusals, damage, random operations against a model, a full medium, worker threads.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_CodecZip.h"
#include "qvt_Corpus.h"
#include "qvt_EncodedSegmentTable.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_FileReprEncoded.h"
#include "qvt_SectorArray.h"
#include "qvt_SegmentBuffer.h"
#include "qvt_SegmentBufferCache.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

constexpr std::int64_t kSector = 4096;
constexpr int kS = 65536;  // the default segment size
using Bytes = std::vector<char>;
using Words = std::vector<std::uint32_t>;

// The little-endian words of b at offsets.
Words At(const std::vector<unsigned char>& b, const std::vector<std::int64_t>& offsets) {
  Words words;
  for (const std::int64_t o : offsets)
    words.push_back(b.at(o) | b.at(o + 1) << 8 | b.at(o + 2) << 16 | std::uint32_t{b.at(o + 3)} << 24);
  return words;
}

// Runs of a few letters and digits, as database pages of numbers and names: they compress to roughly a third.
Bytes CompressibleBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  std::size_t i = 0;
  while (i < size) {
    const int run = static_cast<int>(rng() % 12) + 1;
    const char c = static_cast<char>('0' + rng() % 40);
    for (int k = 0; k < run && i < size; ++k) out[i++] = c;
  }
  return out;
}

class ScratchTest : public ::testing::Test {
 protected:
  std::string Path() const { return m_Dir.File("c.qvt"); }
  ScratchDir m_Dir;
};

class SectorArrayTest : public ScratchTest {
 protected:
  std::unique_ptr<qvt_SectorArray> Create() {
    return std::make_unique<qvt_SectorArray>(Path(), 20, qvt_SectorArray::CreateTag{});
  }
  std::unique_ptr<qvt_SectorArray> Open(int access = 0) {
    return std::make_unique<qvt_SectorArray>(Path(), access);
  }
  static void Put(qvt_SectorArray& array, int index, const Bytes& payload) {
    qvt_SectorWriter writer = array.CreateEntry(index);
    writer.Write(payload.data(), static_cast<int>(payload.size()));
    writer.Finish();
  }
  static Bytes Get(qvt_SectorArray& array, int index) {
    qvt_SectorReader reader = array.OpenEntry(index);
    Bytes bytes(reader.StoredCount() - 4);
    EXPECT_EQ(reader.Read(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    return bytes;
  }
  // Writes entries index -> payload, flushing after each group: the closed file's bytes.
  std::vector<unsigned char> Make(const std::vector<std::vector<std::pair<int, Bytes>>>& groups) {
    {
      auto array = Create();
      for (const auto& group : groups) {
        for (const auto& entry : group) Put(*array, entry.first, entry.second);
        array->Flush();
      }
    }
    return ReadAll(Path());
  }
};

TEST_F(SectorArrayTest, HeaderAndUserHeaderBytesAndReopen) {
  {
    auto array = Create();
    EXPECT_EQ(array->WriteUserHeader("0123456789abcdefghi", 20), 20);
    array->Flush();
    EXPECT_EQ(FileSize(Path()), 256 * kSector);  // one MiB while open
  }
  std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "KVRTSA00");
  EXPECT_EQ(At(bytes, {8, 12, 16, 4092}), (Words{1, 20, 0, 0xFFFFFFFFu}));
  {
    auto array = Open(1);
    char user[32] = {};
    EXPECT_EQ(std::make_pair(array->UserHeaderSize(), array->ReadUserHeader(user, 32)), std::pair(20, 20));
    EXPECT_STREQ(user, "0123456789abcdefghi");
    Put(*array, 3, CompressibleBytes(50000, 7));
    Put(*array, 0, {'x'});
    array->Flush();
  }
  auto array = Open();
  EXPECT_EQ(array->EntryCount(), 4);
  for (int i : {-1, 0, 1, 2, 3, 4}) EXPECT_EQ(array->HasEntry(i), i == 0 || i == 3) << i;
  EXPECT_EQ((std::vector<Bytes>{Get(*array, 3), Get(*array, 0)}),
            (std::vector<Bytes>{CompressibleBytes(50000, 7), {'x'}}));

  // A partial trailing sector is overwritten.
  bytes = Make({{}});
  bytes.resize(kSector + 100, 0xEE);
  WriteAll(Path(), bytes);
  {
    auto grown = Open(1);
    EXPECT_EQ(grown->UsedSectors(), 1u);
    Put(*grown, 0, {'k'});
    grown->Flush();
  }
  bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(2 * kSector));
  EXPECT_EQ(At(bytes, {40, kSector}), (Words{1, 5}));
  EXPECT_EQ(bytes[kSector + 4], 'k');
}

TEST_F(SectorArrayTest, DirectoryContinuesInLinkedSectorsAndReusesThem) {
  std::vector<unsigned char> bytes = Make({{{1013, {'a', 'b'}}}});  // entry: sector 1, directory: sector 2
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(3 * kSector));
  for (std::int64_t offset = 40; offset < 4092; offset += 4)
    ASSERT_EQ(At(bytes, {offset}), Words{0}) << offset;
  // directory length, its next sector, entry 1013's sector, the end of the chain, its stored count
  EXPECT_EQ(At(bytes, {16, 4092, 2 * kSector, 2 * kSector + 4092, kSector}),
            (Words{1014, 2, 1, 0xFFFFFFFFu, 6}));
  EXPECT_FALSE(Open()->HasEntry(1012));

  bytes = Make({{{1013, {'a'}}}, {{2500, {'b'}}}});  // 2500 in sector 3; the directory reuses 2, links 4
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(5 * kSector));
  EXPECT_EQ(At(bytes, {4092, 2 * kSector + 4092, 4 * kSector + 464 * 4}), (Words{2, 4, 3}));
  auto array = Open();
  EXPECT_EQ((std::vector<Bytes>{Get(*array, 2500), Get(*array, 1013)}), (std::vector<Bytes>{{'b'}, {'a'}}));
}

// 4088 payload bytes and the stored count fill one sector; rewrites keep their chain, growing past it.
TEST_F(SectorArrayTest, EntryChainsAtTheSectorBoundaryAndRewrites) {
  for (const std::size_t size : {4088u, 4089u}) {
    SCOPED_TRACE(size);
    const Bytes payload = CompressibleBytes(size, 3);
    const std::vector<unsigned char> bytes = Make({{{0, payload}}});
    const bool two = size == 4089;
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>((two ? 3 : 2) * kSector));
    EXPECT_EQ(At(bytes, {40, kSector, kSector + 4092}),
              (Words{1, static_cast<std::uint32_t>(size + 4), two ? 2u : ~0u}));
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 4088, bytes.begin() + kSector + 4));
    if (two) {
      EXPECT_EQ(static_cast<char>(bytes[2 * kSector]), payload.back());
      EXPECT_EQ(At(bytes, {2 * kSector + 4092}), Words{0xFFFFFFFFu});
    }
    auto array = Open();
    qvt_SectorReader reader = array->OpenEntry(0);
    Bytes back(two ? size : 5000);
    EXPECT_EQ(reader.Read(back.data(), static_cast<int>(back.size())), static_cast<int>(size));
    if (!two) {
      EXPECT_EQ(reader.Read(back.data(), 10), 0);  // the reader stops where the chain ends
    }
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), back.begin()));
  }
  {
    auto array = Create();
    Put(*array, 0, CompressibleBytes(9000, 5));  // sectors 1, 2, 3
    Put(*array, 1, {'z'});                       // sector 4
    Put(*array, 0, CompressibleBytes(100, 6));
    EXPECT_EQ(array->UsedSectors(), 5u);
    Put(*array, 2, CompressibleBytes(5000, 8));  // sectors 5, 6
    Put(*array, 3, {'q'});                       // sector 7
    Put(*array, 2, CompressibleBytes(9000, 9));  // 5, 6, then 8
    EXPECT_EQ(array->UsedSectors(), 9u);
    array->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(9 * kSector));
  EXPECT_EQ(At(bytes, {kSector, kSector + 4092, 2 * kSector + 4092, 6 * kSector + 4092}),
            (Words{104, 2, 3, 8}));
  auto array = Open();
  EXPECT_EQ((std::vector<Bytes>{Get(*array, 0), Get(*array, 1), Get(*array, 2), Get(*array, 3)}),
            (std::vector<Bytes>{CompressibleBytes(100, 6), {'z'}, CompressibleBytes(9000, 9), {'q'}}));
}

// Every other damage is in the table of damaged files.
TEST_F(SectorArrayTest, ShortFilesAndLoopingChainsAreRefused) {
  // Entry 0 of 100 bytes (sector 1), entry 1 of 9000 bytes (sectors 2, 3, 4).
  const std::vector<unsigned char> whole =
      Make({{{0, CompressibleBytes(100, 1)}, {1, CompressibleBytes(9000, 2)}}});
  for (std::size_t length = 0; length < 20; ++length) {
    WriteAll(Path(), std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(length)));
    QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException,
                          length < 8 ? "cnt == sizeof(magic)" : "cnt == sizeof(tmp)");
  }
  WriteAll(Path(), whole);
  FlipByte(Path(), 3 * kSector + 4092, 4 ^ 3);  // sector 3 links to itself, not to 4
  auto array = Open(1);
  qvt_SectorWriter writer = array->CreateEntry(1);
  Bytes bytes(12000);
  QVT_EXPECT_THROW_TEXT(
      writer.Write(bytes.data(), 12000), nex_TextException,
      "qvt_Sector::Next - Compressed file '" + Path() +
          "' is corrupt: sector 3 links to sector 3, which is not a later sector of the file.");
}

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

class EncodedSegmentTableTest : public ScratchTest {
 protected:
  EncodedSegmentTableTest() { g_Encodes = g_Decodes = 0; }
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
  EXPECT_EQ((std::vector<std::int64_t>{table->SegmentSize(), table->LogicalSize()}),
            (std::vector<std::int64_t>{kS, kS + 300}));
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
  for (int twice = 0; twice < 2; ++twice) table->Flush();
  EXPECT_EQ(g_Encodes, 1);
  cow_CountedHld<qvt_EncodedSegment> fresh = table->GetSegment(3);
  fresh->SetDecodedLength(100);
  EXPECT_FALSE(fresh->IsDirty());
}

// Arms, writes one byte at offset 0 of (when write) and disarms each segment from first to last.
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
  auto table = Create();
  EXPECT_EQ((std::vector<int>{qvt_SegmentBufferCache(4096).Limit(), qvt_SegmentBufferCache(1000).Limit(),
                              qvt_SegmentBufferCache(0x100000).Limit(), table->Cache().Limit(),
                              table->Cache().BufferSize()}),
            (std::vector<int>{256, 1048, 1, 16, kS}));
  Touch(*table, 0, 15, true);
  EXPECT_EQ(g_Encodes, 0);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(table->Cache().IsParked(i)) << i;
  Touch(*table, 16, 16, false);
  EXPECT_EQ((std::vector<int>{table->Cache().BufferCount(), g_Encodes}), (std::vector<int>{16, 1}));
  // stored, never stored; segment 0 loaded, dirty, parked
  EXPECT_EQ((std::vector<bool>{table->HasEntry(0), table->HasEntry(1), table->GetSegment(0)->IsLoaded(),
                               table->GetSegment(0)->IsDirty(), table->Cache().IsParked(0)}),
            (std::vector<bool>{true, false, false, false, false}));
  EXPECT_EQ(Get(*table, 0)[0], 'A');  // back from its stored bytes
  EXPECT_EQ(g_Decodes, 1);
  EXPECT_FALSE(table->GetSegment(1)->IsLoaded());  // the next oldest made room for it
  // A long walk stays within 1 MiB and every byte comes back.
  table.reset(), table = Create();
  g_Encodes = g_Decodes = 0;
  Touch(*table, 0, 200, true);
  EXPECT_EQ(std::make_tuple(table->Cache().BufferCount(), g_Encodes), std::make_tuple(16, 201 - 16));
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
  table.reset(), table = Open(1);
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
  EXPECT_EQ(std::make_tuple(g_Encodes + g_Decodes, table->Cache().BufferCount()), std::make_tuple(0, 16));
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

// A segment zlib cannot restore leaves nothing armed or held; a bad segment size leaves the path alone.
TEST_F(EncodedSegmentTableTest, DamagedSegmentsAndBadSizesLeaveNothingBehind) {
  MakeFile();
  FlipByte(Path(), kSector + 4 + 10);  // inside segment 0's zlib stream
  {
    auto table = Open();
    cow_CountedHld<qvt_EncodedSegment> segment = table->GetSegment(0);
    QVT_EXPECT_THROW_TEXT(segment->Arm(), nex_TextException, "***ERROR: CAE database is corrupt.");
    EXPECT_EQ(std::make_pair(segment->ArmCount(), table->Cache().BufferCount()), std::make_pair(0, 0));
    EXPECT_EQ(Get(*table, 1), CompressibleBytes(300, 6));
  }
  const std::vector<unsigned char> before = ReadAll(Path());
  QVT_EXPECT_THROW_TEXT(Create(0), nex_TextException,
                        "qvt_EncodedSegmentTable::Create - Compressed file '" + Path() +
                            "' is corrupt: segment size 0 is not between 1 and 1048576.");
  EXPECT_EQ(ReadAll(Path()), before);
}

class EncodedFileTest : public ScratchTest {
 protected:
  static Bytes ReadBack(qvt_File& file) {
    Bytes bytes(static_cast<std::size_t>(file.Repr()->Length()));
    file.Repr()->Seek(0);
    EXPECT_EQ(file.Repr()->Read(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    return bytes;
  }
  static std::string BadParameter(const std::string& method) {
    return "*** ERROR: Bad parameter passed to file method: qvt_FileReprEncoded::" + method + ".";
  }
};

// Refusals, reading past the segments the cache holds and an update without changes leave the file alone.
TEST_F(EncodedFileTest, RefusalsAndReadingLeaveTheFileAlone) {
  char byte = 'x';
  {
    qvt_File file = qvt_File::CreateCompressed(Path());
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(&byte, -1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Read(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Read"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->Write(nullptr, 1), qvt_FileBadParameterExc, BadParameter("Write"));
  }
  const std::vector<unsigned char> empty = ReadAll(Path());  // one sector, one segment of length 0
  ASSERT_EQ(empty.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(empty.begin(), empty.begin() + 8), "KVRTSA00");
  EXPECT_EQ(At(empty, {28, 32, 36}), (Words{65536, 1, 0}));
  const Bytes bytes = CompressibleBytes(20 * kS + 11, 9);
  {
    qvt_File file = qvt_File::CreateCompressed(Path());
    ASSERT_EQ(file.Repr()->Write(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
  }
  const std::vector<unsigned char> before = ReadAll(Path());
  EXPECT_LT(before.size(), bytes.size() / 2);  // really compressed
  {
    qvt_File file = qvt_File::Open(Path(), 0, true);
    EXPECT_EQ(ReadBack(file), bytes);
    EXPECT_EQ(file.Repr()->Read(&byte, 1), 0);
    const std::string text = "*** ERROR: Attempt to write to read-only file:\n  " + Path();
    ExpectEachThrows<qvt_FileReadOnlyExc>(
        text, {[&] { file.Repr()->Write(&byte, 1); }, [&] { file.Repr()->Flush(); },
               [&] { file.Repr()->ExtendFile(1); }, [&] { file.Repr()->Extend(-1); },
               [&] { file.Repr()->TrimToLength(); }});
  }
  {
    qvt_File file = qvt_File::Open(Path(), 1, false);
    EXPECT_EQ(ReadBack(file), bytes);
    file.Repr()->Seek(20 * kS + 11);  // the end, but not beyond
    file.Repr()->Seek(10);
    QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(20 * kS + 12), nex_AssertException,
                          "location <= m_LogicalFileSize");
    QVT_EXPECT_THROW_TEXT(file.Repr()->Seek(-1), qvt_FileBadParameterExc, BadParameter("Seek"));
    QVT_EXPECT_THROW_TEXT(file.Repr()->ExtendFile(-11), qvt_FileBadParameterExc, BadParameter("ExtendFile"));
    file.Repr()->WriteSizeRecord(500);
    file.Repr()->CheckSizeRecord(500);
    file.Repr()->TrimToLength();
    EXPECT_EQ(file.Repr()->Location(), 10);
  }
  EXPECT_EQ(ReadAll(Path()), before);
}

// The ".cdb" files of tests/corpus: each layer refuses its damage with its text.
TEST(DamagedEncodedFileTest, EachLayerRefusesItsDamageWithItsText) {
  const std::vector<CorpusFile> files = CorpusFiles(".cdb");
  EXPECT_GE(files.size(), 24u);
  for (const CorpusFile& damaged : files) {
    std::string raised = "no exception";
    try {
      LogicalBytes(damaged.path);
    } catch (const nex_Exception& e) {
      raised = e.AsString();
    }
    EXPECT_EQ(raised, damaged.answer) << damaged.path;
  }
}

// Small segments make the cache reclaim and store often.
class RandomOperationsTest : public EncodedFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(RandomOperationsTest, MatchAPlainModel) {
  const int segmentSize = GetParam();
  std::mt19937 rng(777u + static_cast<std::uint32_t>(segmentSize));  // the seed follows the test's name
  Bytes model;
  std::int64_t position = 0;
  const std::int64_t maxSize = 3 << 20;  // well past the 1 MiB the cache keeps
  const int span = std::max(3 * segmentSize, 100000);
  int mostBuffers = 0;
  zip_Engine engine = zip_Engine::Zlib;
  auto file = std::make_unique<qvt_FileReprEncoded>(
      Path(), std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine), segmentSize);
  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const unsigned op = rng() % 100;
    const std::int64_t size = static_cast<std::int64_t>(model.size());
    if (op < 40) {
      const int n = static_cast<int>(rng() % span);
      if (position + n > maxSize) continue;
      const Bytes bytes = CompressibleBytes(n, rng());
      ASSERT_EQ(file->Write(bytes.data(), n), n);
      model.resize(std::max(size, position + n));
      std::copy(bytes.begin(), bytes.end(), model.begin() + position);
      position += n;
    } else if (op < 60) {
      const int n = static_cast<int>(rng() % span);
      const int expected = static_cast<int>(std::min<std::int64_t>(n, size - position));
      Bytes got(n);
      ASSERT_EQ(file->Read(got.data(), n), expected);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + position));
      position += expected;
    } else if (op < 78) {
      position = size == 0 ? 0 : rng() % (size + 1);
      file->Seek(position);
    } else if (op < 86) {
      const std::int64_t n = rng() % span;
      if (size + n > maxSize) continue;
      EXPECT_FALSE(file->ExtendFile(n));
      model.resize(size + n, 0);
    } else if (op < 91) {
      if (position == 0) continue;
      const std::int64_t cut = 1 + rng() % position;
      EXPECT_FALSE(file->ExtendFile(-cut));
      position -= cut;
      model.resize(position);
    } else if (op < 98) {
      file->Flush();
    } else {  // reopened with the other engine where the build has both, each taking up the other's
      file.reset();
      engine = engine == zip_Engine::Zlib ? zip_Codec::Fastest() : zip_Engine::Zlib;
      file = std::make_unique<qvt_FileReprEncoded>(
          Path(), 1, std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel, engine));
      position = 0;
    }
    ASSERT_EQ(file->Length(), static_cast<std::int64_t>(model.size()));
    ASSERT_EQ(file->Location(), position);
    mostBuffers = std::max(mostBuffers, file->Table().Cache().BufferCount());
  }
  EXPECT_GE(mostBuffers, file->Table().Cache().Limit());
  file.reset();
  qvt_File reopened = qvt_File::Open(Path(), 0, true);
  EXPECT_EQ(ReadBack(reopened), model);
}

INSTANTIATE_TEST_SUITE_P(SegmentSizes, RandomOperationsTest, ::testing::Values(4096, 65536, 1000));

// At each point where the container grows, the system's refusal is passed on and nothing crashes.
TEST_F(EncodedFileTest, RunningOutOfRoomIsAClearFailureAtEveryGrowthPoint) {
  constexpr long long kMiB = 1 << 20;
  std::mt19937 rng(99);
  Bytes data(static_cast<std::size_t>(3 * kMiB));  // noise zlib cannot shrink
  for (char& c : data) c = static_cast<char>(rng());
  for (const long long limit : {kMiB - 1, 2 * kMiB + 100000, 3 * kMiB + 5, 8 * kMiB}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    WriteAll(Path(), {});
    const ChildResult result = RunChild([&] {
      if (!LimitFileSize(limit)) return 2;
      try {
        qvt_File file = qvt_File::CreateCompressed(Path());
        for (std::size_t at = 0; at < data.size(); at += 65536) {
          file.Repr()->Write(data.data() + at, 65536);
          if (at % (8 * 65536) == 0) file.Repr()->Flush();
        }
        file.Repr()->Flush();
        std::printf("done\n");
      } catch (const nex_Exception& e) {
        std::printf("%s\n", e.AsString().c_str());
      }
      return 0;
    });
    ASSERT_TRUE(result.Succeeded()) << result.exitCode << " " << result.signal << " " << result.err;
    if (limit > 4 * kMiB) {
      EXPECT_EQ(result.out, "done\n");
      EXPECT_TRUE(LogicalBytes(Path()) == data);
      continue;
    }
    const std::string tooLarge = "***ERROR: resize failed for file " + Path() + ": File too large";
    EXPECT_EQ(result.out, tooLarge + "\n");
    // Closing flushes again, which may fail the same way: reported, not thrown.
    const std::string warning =
        "*** WARNING: Closing compressed file '" + Path() + "' failed: " + tooLarge + "\n";
    EXPECT_TRUE(result.err.empty() || result.err == warning) << result.err;
    try {
      LogicalBytes(Path());
    } catch (const nex_Exception&) {
    }
  }
}

// Worker threads store what the writer's thread alone stores, and report a failed encoding once, by
// the store that needed it, which tries it again.
// The zlib codec and its copies, failing the encode that brings the count to 0.
struct FailingCodec : qvt_CodecZip {
  explicit FailingCodec(std::atomic<int>* left) : m_Left(left) {}
  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override {
    NEX_ASSERT(--*m_Left != 0);
    qvt_CodecZip::Encode(out, in, length);
  }
  std::unique_ptr<qvt_Codec> CopyForThread() const override { return std::make_unique<FailingCodec>(m_Left); }
  std::atomic<int>* m_Left;
};
TEST_F(EncodedFileTest, WorkerThreadsStoreTheBytesAndReportTheErrorsOfOneThread) {
  for (const bool alone : {false, true}) {
    qvt_FileReprEncoded file(m_Dir.File(alone ? "1" : "0"),
                             std::unique_ptr<qvt_Codec>(alone ? new CountingCodec : new qvt_CodecZip), kS);
    std::mt19937 rng(4242);
    for (int step = 0; step < 300; ++step) {
      const std::uint32_t op = rng() % 10, n = rng() % 250000;
      if (op < 3) file.Seek(n * 16 % (file.Length() + 1));
      if (op < 7 && file.Location() < (4 << 20))
        file.Write(CompressibleBytes(n, n).data(), static_cast<int>(n));
      else if (op > 7)
        op < 9 ? file.Flush() : (void)file.ExtendFile(n % 2 ? n / 8 : -(n * 8 % (file.Location() + 1)));
    }
  }
  EXPECT_TRUE(ReadAll(m_Dir.File("0")) == ReadAll(m_Dir.File("1")));
  std::atomic<int> left(30);
  const std::vector<char> bytes = CompressibleBytes(60 * kS, 5);
  std::string failures;
  auto file =
      std::make_unique<qvt_FileReprEncoded>(m_Dir.File("f"), std::make_unique<FailingCodec>(&left), kS);
  for (int i = 0; i < 60; ++i) {
    try {
      file->Write(bytes.data() + i * kS, kS);
    } catch (const nex_AssertException& e) {
      failures += e.AsString().c_str();
    }
  }
  std::vector<char> back(bytes.size());
  for (int i = 59; i >= 0; --i) file->Seek(i * kS), file->Read(back.data() + i * kS, kS);
  file.reset();
  EXPECT_EQ(failures, "--*m_Left != 0");
  EXPECT_TRUE(back == bytes);
}

}  // namespace
}  // namespace qvt_test
