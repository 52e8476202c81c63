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

TEST_F(FileCache, SizesFollowTheKeysAndTheFreeSpace) {
  constexpr std::uint64_t k10GiB = 10ull << 30;
  const struct {
    const char* pageKiB;  // "" for an absent key
    const char* limitMiB;
    std::uint64_t freeSpace;
    std::int32_t pageSize;
    std::int64_t pageLimit;
  } cases[] = {{"", "", k10GiB, 0x100000, 8192},       {"0", "", k10GiB, 1024, 8388608},
               {"-5", "", k10GiB, 1024, 8388608},      {"70000", "", k10GiB, 2 * 0x100000, 4096},
               {"64", "", k10GiB, 65536, 131072},      {"", "100", k10GiB, 0x100000, 100},
               {"", "100000", k10GiB, 0x100000, 8192}, {"", "", 1000, 0x100000, 0}};
  for (const auto& c : cases) {
    ResetPageCache(c.pageKiB, c.limitMiB);
    const qvt_FileCache::Sizes sizes = qvt_FileCache::ComputeSizes(c.freeSpace);
    EXPECT_EQ(sizes.pageSize, c.pageSize) << "page " << c.pageKiB << ", limit " << c.limitMiB;
    EXPECT_EQ(sizes.pageLimit, c.pageLimit) << "page " << c.pageKiB << ", limit " << c.limitMiB;
  }
}

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

// An invalidated page is dropped unless looked up again, and a fill whose
// bytes break off leaves a page holding nothing.
TEST_F(FileCache, InvalidatedOrBrokenOffPageHoldsNothing) {
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
  const auto fill = [&](int sent) {  // from a pipe that ends after sent bytes
    const std::vector<cow_String> shell = {"-c", "head -c " + std::to_string(sent) + " /dev/zero"};
    auto child = uti_SpawnSourceWithSink::spawnSourceWithSink("sh", "/bin/sh", shell, uti_Redirection{}, {});
    utl_BinIStream stream(child->Source(), EndianLittle, 10000);
    cache.Fill(*again, 4096, stream);
  };
  fill(4096);
  EXPECT_EQ(again->valid, 4096);
  EXPECT_THROW(fill(4095), utl_BinStreamEOF);
  EXPECT_EQ(again->valid, 0);
  EXPECT_EQ(cache.TakeDropped(map, 10), std::vector<utl_FileOffset>{2 * kMiB});
  cache.Release(again);
  cache.ReleaseAll(map);
  EXPECT_EQ(cache.TakeDropped(map, 1), std::vector<utl_FileOffset>{0});
  EXPECT_EQ(map.size(), 1u);
}

}  // namespace
