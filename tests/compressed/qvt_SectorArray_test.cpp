// The sector container: exact bytes of header, directory and entry chains,
// growth and trimming, and damaged files.
#include "qvt_SectorArray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvt_CompressedTestSupport.h"
#include "qvt_TestSupport.h"

using qvt_ctest::kSector;
using qvt_ctest::LE32;
using qvt_test::FileSize;
using qvt_test::ReadAll;

namespace {

class SectorArrayTest : public ::testing::Test {
 protected:
  std::string Path() const { return m_Dir.File("c.qvt"); }

  std::unique_ptr<qvt_SectorArray> Create(int userHeaderSize = 20) {
    return std::make_unique<qvt_SectorArray>(Path(), userHeaderSize, qvt_SectorArray::CreateTag{});
  }
  std::unique_ptr<qvt_SectorArray> Open(int access = 0) { return std::make_unique<qvt_SectorArray>(Path(), access); }

  static void WriteEntry(qvt_SectorArray& array, int index, const std::vector<char>& payload) {
    qvt_SectorWriter writer = array.CreateEntry(index);
    writer.Write(payload.data(), static_cast<int>(payload.size()));
    writer.Finish();
  }

  static std::vector<char> ReadEntry(qvt_SectorArray& array, int index) {
    qvt_SectorReader reader = array.OpenEntry(index);
    std::vector<char> bytes(reader.StoredCount() - 4);
    EXPECT_EQ(reader.Read(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    return bytes;
  }

  // A container with entries 0 and 1 of the given payload sizes, flushed and
  // closed.
  void MakeFile(std::size_t first = 100, std::size_t second = 9000) {
    auto array = Create();
    WriteEntry(*array, 0, qvt_ctest::CompressibleBytes(first, 1));
    WriteEntry(*array, 1, qvt_ctest::CompressibleBytes(second, 2));
    array->Flush();
  }

  qvt_test::ScratchDir m_Dir;
};

TEST_F(SectorArrayTest, NewFlushedContainerIsOneMiBOpenAndOneSectorClosed) {
  {
    auto array = Create();
    array->Flush();
    EXPECT_EQ(FileSize(Path()), 256 * kSector);
  }
  ASSERT_EQ(FileSize(Path()), kSector);
  const std::vector<unsigned char> bytes = ReadAll(Path());
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "KVRTSA00");
  EXPECT_EQ(LE32(bytes, 8), 1u);
  EXPECT_EQ(LE32(bytes, 12), 20u);
  EXPECT_EQ(LE32(bytes, 16), 0u);
  EXPECT_EQ(LE32(bytes, 4092), 0xFFFFFFFFu);
}

TEST_F(SectorArrayTest, ReopensWithUserHeaderAndEntries) {
  const std::vector<char> big = qvt_ctest::CompressibleBytes(50000, 7);
  {
    auto array = Create();
    const char user[20] = "0123456789abcdefghi";
    EXPECT_EQ(array->WriteUserHeader(user, 20), 20);
    WriteEntry(*array, 3, big);
    WriteEntry(*array, 0, {'x'});
    array->Flush();
  }
  auto array = Open();
  EXPECT_EQ(array->UserHeaderSize(), 20);
  EXPECT_EQ(array->EntryCount(), 4);
  char user[32] = {};
  EXPECT_EQ(array->ReadUserHeader(user, 32), 20);
  EXPECT_STREQ(user, "0123456789abcdefghi");
  EXPECT_TRUE(array->HasEntry(0));
  EXPECT_FALSE(array->HasEntry(1));
  EXPECT_FALSE(array->HasEntry(2));
  EXPECT_FALSE(array->HasEntry(4));
  EXPECT_FALSE(array->HasEntry(-1));
  EXPECT_EQ(ReadEntry(*array, 3), big);
  EXPECT_EQ(ReadEntry(*array, 0), std::vector<char>{'x'});
}

TEST_F(SectorArrayTest, DirectoryWord1013LandsInFirstContinuationSector) {
  {
    auto array = Create();
    WriteEntry(*array, 1013, {'a', 'b'});  // first sector: 1
    array->Flush();                        // continuation: sector 2
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(3 * kSector));
  EXPECT_EQ(LE32(bytes, 16), 1014u);
  for (std::size_t offset = 40; offset < 4092; offset += 4) ASSERT_EQ(LE32(bytes, offset), 0u) << offset;
  EXPECT_EQ(LE32(bytes, 4092), 2u);
  EXPECT_EQ(LE32(bytes, 2 * kSector), 1u);
  EXPECT_EQ(LE32(bytes, 2 * kSector + 4092), 0xFFFFFFFFu);
  EXPECT_EQ(LE32(bytes, kSector), 6u);  // stored count of entry 1013

  auto array = Open();
  EXPECT_TRUE(array->HasEntry(1013));
  EXPECT_FALSE(array->HasEntry(1012));
  EXPECT_EQ(ReadEntry(*array, 1013), (std::vector<char>{'a', 'b'}));
}

TEST_F(SectorArrayTest, GrownDirectoryReusesItsContinuationSectors) {
  {
    auto array = Create();
    WriteEntry(*array, 1013, {'a'});  // sector 1
    array->Flush();                   // directory continuation: sector 2
    WriteEntry(*array, 2500, {'b'});  // sector 3
    array->Flush();                   // reuses 2, links 4
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(5 * kSector));
  EXPECT_EQ(LE32(bytes, 4092), 2u);
  EXPECT_EQ(LE32(bytes, 2 * kSector + 4092), 4u);
  // Entry 2500 is word 2500 - 1013 - 1023 = 464 of sector 4.
  EXPECT_EQ(LE32(bytes, 4 * kSector + 464 * 4), 3u);
  auto array = Open();
  EXPECT_EQ(ReadEntry(*array, 2500), std::vector<char>{'b'});
  EXPECT_EQ(ReadEntry(*array, 1013), std::vector<char>{'a'});
}

TEST_F(SectorArrayTest, EntryOf4088BytesFillsOneSector) {
  const std::vector<char> payload = qvt_ctest::CompressibleBytes(4088, 3);
  {
    auto array = Create();
    WriteEntry(*array, 0, payload);
    array->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(2 * kSector));
  EXPECT_EQ(LE32(bytes, 40), 1u);
  EXPECT_EQ(LE32(bytes, kSector), 4092u);
  EXPECT_EQ(LE32(bytes, kSector + 4092), 0xFFFFFFFFu);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), bytes.begin() + kSector + 4));
}

TEST_F(SectorArrayTest, EntryOf4089BytesLinksASecondSectorHoldingOneByte) {
  const std::vector<char> payload = qvt_ctest::CompressibleBytes(4089, 4);
  {
    auto array = Create();
    WriteEntry(*array, 0, payload);
    array->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(3 * kSector));
  EXPECT_EQ(LE32(bytes, kSector), 4093u);
  EXPECT_EQ(LE32(bytes, kSector + 4092), 2u);
  EXPECT_EQ(static_cast<char>(bytes[2 * kSector]), payload.back());
  EXPECT_EQ(LE32(bytes, 2 * kSector + 4092), 0xFFFFFFFFu);
  auto array = Open();
  EXPECT_EQ(ReadEntry(*array, 0), payload);
}

TEST_F(SectorArrayTest, ShorterRewriteKeepsTheChainAndShrinksTheCount) {
  {
    auto array = Create();
    WriteEntry(*array, 0, qvt_ctest::CompressibleBytes(9000, 5));  // sectors 1, 2, 3
    WriteEntry(*array, 1, {'z'});                                  // sector 4
    WriteEntry(*array, 0, qvt_ctest::CompressibleBytes(100, 6));
    EXPECT_EQ(array->UsedSectors(), 5u);
    array->Flush();
  }
  const std::vector<unsigned char> bytes = ReadAll(Path());
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(5 * kSector));
  EXPECT_EQ(LE32(bytes, kSector), 104u);
  EXPECT_EQ(LE32(bytes, kSector + 4092), 2u);
  EXPECT_EQ(LE32(bytes, 2 * kSector + 4092), 3u);
  auto array = Open();
  EXPECT_EQ(ReadEntry(*array, 0), qvt_ctest::CompressibleBytes(100, 6));
  EXPECT_EQ(ReadEntry(*array, 1), std::vector<char>{'z'});
}

TEST_F(SectorArrayTest, LongerRewriteAllocatesOnlyPastTheOldChain) {
  auto array = Create();
  WriteEntry(*array, 0, qvt_ctest::CompressibleBytes(5000, 8));  // sectors 1, 2
  WriteEntry(*array, 1, {'q'});                                  // sector 3
  const std::vector<char> longer = qvt_ctest::CompressibleBytes(9000, 9);
  WriteEntry(*array, 0, longer);  // 1, 2, then 4
  EXPECT_EQ(array->UsedSectors(), 5u);
  EXPECT_EQ(ReadEntry(*array, 0), longer);
  EXPECT_EQ(ReadEntry(*array, 1), std::vector<char>{'q'});
}

TEST_F(SectorArrayTest, ReaderStopsWhereTheChainEnds) {
  auto array = Create();
  WriteEntry(*array, 0, qvt_ctest::CompressibleBytes(4088, 10));
  qvt_SectorReader reader = array->OpenEntry(0);
  std::vector<char> bytes(5000);
  EXPECT_EQ(reader.Read(bytes.data(), 5000), 4088);
  EXPECT_EQ(reader.Read(bytes.data(), 10), 0);
}

TEST_F(SectorArrayTest, ManyEntriesOfManySizesReadBack) {
  std::mt19937 rng(20240611);
  std::vector<std::vector<char>> payloads(40);
  {
    auto array = Create();
    for (std::size_t round = 0; round < 3; ++round) {
      for (std::size_t i = 0; i < payloads.size(); ++i) {
        if (rng() % 3 == 0) continue;
        payloads[i] = qvt_ctest::CompressibleBytes(rng() % 20000, static_cast<std::uint32_t>(rng()));
        WriteEntry(*array, static_cast<int>(i), payloads[i]);
      }
      array->Flush();
    }
  }
  auto array = Open();
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    if (!array->HasEntry(static_cast<int>(i))) continue;
    EXPECT_EQ(ReadEntry(*array, static_cast<int>(i)), payloads[i]) << i;
  }
}

TEST_F(SectorArrayTest, PartialTrailingSectorIsIgnoredAndOverwritten) {
  {
    auto array = Create();
    array->Flush();
  }
  std::vector<unsigned char> bytes = ReadAll(Path());
  bytes.resize(kSector + 100, 0xEE);
  qvt_test::WriteAll(Path(), bytes);
  {
    auto array = Open(1);
    EXPECT_EQ(array->UsedSectors(), 1u);
    WriteEntry(*array, 0, {'k'});
    array->Flush();
  }
  bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(2 * kSector));
  EXPECT_EQ(LE32(bytes, 40), 1u);
  EXPECT_EQ(LE32(bytes, kSector), 5u);
  EXPECT_EQ(bytes[kSector + 4], 'k');
}

TEST_F(SectorArrayTest, ReadOnlyOpenLeavesTheFileUnchanged) {
  MakeFile();
  const std::vector<unsigned char> before = ReadAll(Path());
  {
    auto array = Open(0);
    ReadEntry(*array, 0);
    ReadEntry(*array, 1);
  }
  EXPECT_EQ(ReadAll(Path()), before);
}

// Damaged files.

TEST_F(SectorArrayTest, WrongMagicDigitFailsOnTheMagic) {
  MakeFile();
  qvt_test::FlipByte(Path(), 7, '0' ^ '1');
  QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, "strncmp( magic, MAGIC, sizeof(magic) ) == 0");
}

TEST_F(SectorArrayTest, VersionTwoFailsOnTheVersion) {
  MakeFile();
  qvt_ctest::PokeLE32(Path(), 8, 2);
  QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, "tmp[HEADER_VERSION] == CURRENT_VERSION");
}

TEST_F(SectorArrayTest, EveryTruncationOfTheHeaderWordsIsRefused) {
  MakeFile();
  const std::vector<unsigned char> whole = ReadAll(Path());
  for (std::size_t length = 0; length < 20; ++length) {
    qvt_test::WriteAll(Path(), std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(length)));
    QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, length < 8 ? "cnt == sizeof(magic)" : "cnt == sizeof(tmp)");
  }
}

TEST_F(SectorArrayTest, HeaderWithoutAWholeSectorIsReportedCorrupt) {
  MakeFile();
  qvt_test::TruncateTo(Path(), 4000);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException,
                        "qvt_SectorArray::Open - Compressed file '" + Path() + "' is corrupt: it holds no whole sector.");
}

TEST_F(SectorArrayTest, OversizedUserHeaderIsReportedCorrupt) {
  MakeFile();
  qvt_ctest::PokeLE32(Path(), 12, 4073);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException,
                        "qvt_SectorArray::Open - Compressed file '" + Path() +
                            "' is corrupt: user header size 4073 does not fit in the header sector.");
}

TEST_F(SectorArrayTest, DirectoryLongerThanTheFileIsReportedCorrupt) {
  MakeFile();  // 5 sectors: room for 1013 + 4 * 1023 words
  qvt_ctest::PokeLE32(Path(), 16, 1013 + 4 * 1023 + 1);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException,
                        "qvt_SectorArray::Open - Compressed file '" + Path() +
                            "' is corrupt: directory length 5106 does not fit in the file.");
  qvt_ctest::PokeLE32(Path(), 16, 0xFFFFFFFFu);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException,
                        "qvt_SectorArray::Open - Compressed file '" + Path() +
                            "' is corrupt: directory length 4294967295 does not fit in the file.");
}

TEST_F(SectorArrayTest, DirectoryChainEndingEarlyFailsOnRemaining) {
  MakeFile();  // 5 sectors, sector 0 ends its chain
  qvt_ctest::PokeLE32(Path(), 16, 1500);
  QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException, "remaining == 0");
}

TEST_F(SectorArrayTest, DirectoryEntryOutsideTheFileIsReportedCorrupt) {
  MakeFile();  // 5 sectors
  qvt_ctest::PokeLE32(Path(), 44, 5);
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException,
                        "qvt_SectorArray::Open - Compressed file '" + Path() +
                            "' is corrupt: entry 1 starts at sector 5, outside the file.");
}

TEST_F(SectorArrayTest, LoopingDirectoryChainIsReportedCorrupt) {
  MakeFile();
  qvt_ctest::PokeLE32(Path(), 16, 3000);
  qvt_ctest::PokeLE32(Path(), 4092, 0);  // sector 0 links to itself
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException,
                        "qvt_Sector::Next - Compressed file '" + Path() +
                            "' is corrupt: sector 0 links to sector 0, which is not a later sector of the file.");
}

TEST_F(SectorArrayTest, LoopingEntryChainIsReportedCorrupt) {
  MakeFile();  // entry 1: sectors 2, 3, 4
  qvt_ctest::PokeLE32(Path(), 3 * kSector + 4092, 2);
  auto array = Open();
  std::vector<char> bytes(9000);
  qvt_SectorReader reader = array->OpenEntry(1);
  QVT_EXPECT_THROW_TEXT(reader.Read(bytes.data(), 9000), nex_TextException,
                        "qvt_Sector::Next - Compressed file '" + Path() +
                            "' is corrupt: sector 3 links to sector 2, which is not a later sector of the file.");
}

TEST_F(SectorArrayTest, LoopingChainIsRefusedWhenRewritten) {
  MakeFile();
  qvt_ctest::PokeLE32(Path(), 3 * kSector + 4092, 3);
  auto array = Open(1);
  qvt_SectorWriter writer = array->CreateEntry(1);
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(12000, 3);
  QVT_EXPECT_THROW_TEXT(writer.Write(bytes.data(), 12000), nex_TextException,
                        "qvt_Sector::Next - Compressed file '" + Path() +
                            "' is corrupt: sector 3 links to sector 3, which is not a later sector of the file.");
}

TEST_F(SectorArrayTest, StoredCountBeyondTheFileIsReportedCorrupt) {
  MakeFile();  // entry 1 starts at sector 2 of 5: at most 3 * 4092 bytes
  qvt_ctest::PokeLE32(Path(), 2 * kSector, 3 * 4092 + 1);
  auto array = Open();
  QVT_EXPECT_THROW_TEXT(array->OpenEntry(1), nex_TextException,
                        "qvt_SectorArray::OpenEntry - Compressed file '" + Path() +
                            "' is corrupt: entry 1 has stored length 12277, more than its sectors can hold.");
  qvt_ctest::PokeLE32(Path(), 2 * kSector, 3);
  auto reopened = Open();
  QVT_EXPECT_THROW_TEXT(reopened->OpenEntry(1), nex_TextException,
                        "qvt_SectorArray::OpenEntry - Compressed file '" + Path() +
                            "' is corrupt: entry 1 has stored length 3, more than its sectors can hold.");
}

TEST_F(SectorArrayTest, AbsentEntryCannotBeOpened) {
  MakeFile();
  auto array = Open();
  QVT_EXPECT_THROW_TEXT(array->OpenEntry(7), nex_AssertException, "cell && *cell");
}

TEST_F(SectorArrayTest, NullSectorRefusesTransfers) {
  MakeFile();
  auto array = Open();
  const qvt_Sector null(qvt_Sector::kNullIndex, array.get());
  char byte = 0;
  QVT_EXPECT_THROW_TEXT(null.Read(&byte, 1, 0), nex_AssertException, "!IsNull()");
  QVT_EXPECT_THROW_TEXT(null.Write(&byte, 1, 0), nex_AssertException, "!IsNull()");
  QVT_EXPECT_THROW_TEXT(null.SetNext(1), nex_AssertException, "!IsNull()");
  QVT_EXPECT_THROW_TEXT(null.NextOrAllocate(), nex_AssertException, "!IsNull()");
  EXPECT_TRUE(null.Next().IsNull());
}

// Every byte of a small container flipped in turn: opening and reading all
// entries either works or fails with a library exception.
TEST_F(SectorArrayTest, EveryFlippedByteOfTheHeaderAndChainsIsHandled) {
  MakeFile(100, 5000);
  const std::vector<unsigned char> good = ReadAll(Path());
  std::vector<std::size_t> offsets;
  for (std::size_t o = 0; o < 64; ++o) offsets.push_back(o);
  for (std::size_t s = 0; s < good.size() / kSector; ++s)
    for (std::size_t o = 0; o < 4; ++o) {
      offsets.push_back(s * kSector + o);
      offsets.push_back(s * kSector + 4092 + o);
    }
  int refused = 0;
  for (const std::size_t offset : offsets) {
    for (const unsigned char mask : {0x01, 0x80, 0xFF}) {
      std::vector<unsigned char> bad = good;
      bad[offset] ^= mask;
      qvt_test::WriteAll(Path(), bad);
      try {
        auto array = Open();
        for (int i = 0; i < array->EntryCount(); ++i)
          if (array->HasEntry(i)) ReadEntry(*array, i);
      } catch (const nex_Exception&) {
        ++refused;  // a clear refusal is one of the two allowed outcomes
      }
    }
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
