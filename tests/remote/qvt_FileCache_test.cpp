// The remote page cache: page size and limit from the command-line keys and
// the free space, exhaustion and reuse of released pages, invalidation and
// the dropped offsets a file reports next, and a fill whose bytes break off.
#include "qvt_FileCache.h"

#include "omi_Swapper.h"
#include "qvt_RemoteTestSupport.h"
#include "qvt_TestSupport.h"
#include "uti_Spawn.h"
#include "utl_BinStream.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::ResetPageCache;
constexpr std::int64_t kMiB = 0x100000;

class FileCache : public ::testing::Test {
 protected:
  ~FileCache() override { ResetPageCache("", ""); }
  qvt_test::ScratchDir m_Dir;
};

struct SizeCase {
  const char* pageKiB;  // "" for an absent key
  const char* limitMiB;
  std::uint64_t freeSpace;
  std::int32_t pageSize;
  std::int64_t pageLimit;
};

class CacheSizes : public FileCache, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CacheSizes, FollowTheKeysAndTheFreeSpace) {
  const SizeCase& c = GetParam();
  ResetPageCache(c.pageKiB, c.limitMiB);
  const qvt_FileCache::Sizes sizes = qvt_FileCache::ComputeSizes(c.freeSpace);
  EXPECT_EQ(sizes.pageSize, c.pageSize);
  EXPECT_EQ(sizes.pageLimit, c.pageLimit);
}

constexpr std::uint64_t k10GiB = 10ull << 30;
INSTANTIATE_TEST_SUITE_P(
    Keys, CacheSizes,
    ::testing::Values(SizeCase{"", "", k10GiB, 0x100000, 8192}, SizeCase{"0", "", k10GiB, 1024, 8388608},
                      SizeCase{"-5", "", k10GiB, 1024, 8388608},
                      SizeCase{"70000", "", k10GiB, 2 * 0x100000, 4096},
                      SizeCase{"64", "", k10GiB, 65536, 131072}, SizeCase{"", "100", k10GiB, 0x100000, 100},
                      SizeCase{"", "100000", k10GiB, 0x100000, 8192}, SizeCase{"", "", 1000, 0x100000, 0}));

TEST_F(FileCache, ExhaustedUntilAPageIsReleasedThenReusesItsSlot) {
  ResetPageCache("1024", "2");  // two pages of 1 MiB
  qvt_FileCache cache(m_Dir.Path());
  ASSERT_EQ(cache.PageLimit(), 2);
  qvt_FileCacheMap a, b;
  qvt_FileCachePage* first = cache.Lookup(0, a);
  qvt_FileCachePage* second = cache.Lookup(kMiB, a);
  EXPECT_NE(first->slot, second->slot);  // made before either was filled
  QVT_EXPECT_THROW_TEXT(cache.Lookup(0, b), nex_TextException, "Cache Space Exausted.");
  EXPECT_TRUE(b.empty());
  cache.Release(first);
  EXPECT_EQ(cache.Lookup(0, b), first);
  EXPECT_EQ(a.at(0), nullptr);  // its former entry stays, holding no page
  EXPECT_EQ(cache.TakeDropped(a, 10), std::vector<utl_FileOffset>{0});
  EXPECT_EQ(a.count(0), 0u);
  EXPECT_EQ(cache.PagesMade(), 2);
}

TEST_F(FileCache, InvalidatedPageIsDroppedUnlessLookedUpAgain) {
  ResetPageCache("1024", "4");
  qvt_FileCache cache(m_Dir.Path());
  qvt_FileCacheMap map;
  for (std::int64_t offset : {0 * kMiB, 1 * kMiB, 2 * kMiB}) cache.Release(cache.Lookup(offset, map));
  qvt_FileCachePage* page = map.at(kMiB);
  page->valid = 100;
  cache.Invalidate(kMiB, map);
  cache.Invalidate(2 * kMiB, map);
  EXPECT_EQ(map.at(kMiB), nullptr);
  // The next lookup takes the most recently invalidated page, emptied.
  qvt_FileCachePage* again = cache.Lookup(kMiB, map);
  EXPECT_EQ(again->valid, 0);
  EXPECT_EQ(cache.TakeDropped(map, 10), std::vector<utl_FileOffset>{2 * kMiB});
  cache.Release(again);
  cache.ReleaseAll(map);
  EXPECT_EQ(cache.TakeDropped(map, 1), std::vector<utl_FileOffset>{0});
  EXPECT_EQ(map.size(), 1u);
}

TEST_F(FileCache, FillThatBreaksOffLeavesThePageHoldingNothing) {
  ResetPageCache("4", "1");
  qvt_FileCache cache(m_Dir.Path());
  qvt_FileCacheMap map;
  qvt_FileCachePage* page = cache.Lookup(0, map);
  const auto fill = [&](int sent) {  // from a pipe that ends after sent bytes
    const std::vector<cow_String> shell = {"-c", "head -c " + std::to_string(sent) + " /dev/zero"};
    auto child = uti_SpawnSourceWithSink::spawnSourceWithSink("sh", "/bin/sh", shell, uti_Redirection{}, {});
    utl_BinIStream stream(child->Source(), EndianLittle, 10000);
    cache.Fill(*page, 4096, stream);
  };
  fill(4096);
  EXPECT_EQ(page->valid, 4096);
  EXPECT_THROW(fill(4095), utl_BinStreamEOF);
  EXPECT_EQ(page->valid, 0);
}

}  // namespace
