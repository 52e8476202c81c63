// The sector container: exact bytes of header, directory and entry chains,
// growth and trimming, and damaged files.
#include "qvt_SectorArray.h"

#include <memory>
#include <string>
#include <vector>

#include "qvt_CompressedTestSupport.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace qvt_ctest {
namespace {

using qvt_test::ReadAll;

class SectorArrayTest : public ::testing::Test {
 protected:
  std::string Path() const { return m_Dir.File("c.qvt"); }
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

  qvt_test::ScratchDir m_Dir;
};

TEST_F(SectorArrayTest, HeaderAndUserHeaderBytesAndReopen) {
  {
    auto array = Create();
    EXPECT_EQ(array->WriteUserHeader("0123456789abcdefghi", 20), 20);
    array->Flush();
    EXPECT_EQ(qvt_test::FileSize(Path()), 256 * kSector);  // one MiB while open
  }
  std::vector<unsigned char> bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSector));
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "KVRTSA00");
  EXPECT_EQ(At(bytes, {8, 12, 16, 4092}), (Words{1, 20, 0, 0xFFFFFFFFu}));
  {
    auto array = Open(1);
    char user[32] = {};
    EXPECT_EQ(array->UserHeaderSize(), 20);
    EXPECT_EQ(array->ReadUserHeader(user, 32), 20);
    EXPECT_STREQ(user, "0123456789abcdefghi");
    Put(*array, 3, CompressibleBytes(50000, 7));
    Put(*array, 0, {'x'});
    array->Flush();
  }
  auto array = Open();
  EXPECT_EQ(array->EntryCount(), 4);
  for (int i : {-1, 0, 1, 2, 3, 4}) EXPECT_EQ(array->HasEntry(i), i == 0 || i == 3) << i;
  EXPECT_EQ(Get(*array, 3), CompressibleBytes(50000, 7));
  EXPECT_EQ(Get(*array, 0), Bytes{'x'});

  // A partial trailing sector is overwritten.
  bytes = Make({{}});
  bytes.resize(kSector + 100, 0xEE);
  qvt_test::WriteAll(Path(), bytes);
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
  for (std::size_t offset = 40; offset < 4092; offset += 4) ASSERT_EQ(LE32(bytes, offset), 0u) << offset;
  // directory length, its next sector, entry 1013's sector, the end of the chain, its stored count
  EXPECT_EQ(At(bytes, {16, 4092, 2 * kSector, 2 * kSector + 4092, kSector}),
            (Words{1014, 2, 1, 0xFFFFFFFFu, 6}));
  EXPECT_FALSE(Open()->HasEntry(1012));

  bytes = Make({{{1013, {'a'}}}, {{2500, {'b'}}}});  // 2500 in sector 3; the directory reuses 2, links 4
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(5 * kSector));
  EXPECT_EQ(At(bytes, {4092, 2 * kSector + 4092, 4 * kSector + 464 * 4}), (Words{2, 4, 3}));
  auto array = Open();
  EXPECT_EQ(Get(*array, 2500), Bytes{'b'});
  EXPECT_EQ(Get(*array, 1013), Bytes{'a'});
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
      EXPECT_EQ(LE32(bytes, 2 * kSector + 4092), 0xFFFFFFFFu);
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
  EXPECT_EQ(Get(*array, 0), CompressibleBytes(100, 6));
  EXPECT_EQ(Get(*array, 1), Bytes{'z'});
  EXPECT_EQ(Get(*array, 2), CompressibleBytes(9000, 9));
  EXPECT_EQ(Get(*array, 3), Bytes{'q'});
}

// Every other damage is in the compressed file's table of damages.
TEST_F(SectorArrayTest, ShortFilesAndLoopingChainsAreRefused) {
  // Entry 0 of 100 bytes (sector 1), entry 1 of 9000 bytes (sectors 2, 3, 4).
  const std::vector<unsigned char> whole =
      Make({{{0, CompressibleBytes(100, 1)}, {1, CompressibleBytes(9000, 2)}}});
  for (std::size_t length = 0; length < 20; ++length) {
    qvt_test::WriteAll(Path(),
                       std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(length)));
    QVT_EXPECT_THROW_TEXT(Open(), nex_AssertException,
                          length < 8 ? "cnt == sizeof(magic)" : "cnt == sizeof(tmp)");
  }
  qvt_test::WriteAll(Path(), whole);
  qvt_test::FlipByte(Path(), 3 * kSector + 4092, 4 ^ 3);  // sector 3 links to itself, not to 4
  auto array = Open(1);
  qvt_SectorWriter writer = array->CreateEntry(1);
  Bytes bytes(12000);
  QVT_EXPECT_THROW_TEXT(
      writer.Write(bytes.data(), 12000), nex_TextException,
      "qvt_Sector::Next - Compressed file '" + Path() +
          "' is corrupt: sector 3 links to sector 3, which is not a later sector of the file.");
}

}  // namespace
}  // namespace qvt_ctest
