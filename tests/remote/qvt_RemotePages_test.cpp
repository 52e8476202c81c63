// Pages on their way from the assistant into the cache: a page the
// assistant read ahead is never served once the file was flushed after it
// was read, and a page whose bytes break off holds nothing.
#include <algorithm>
#include <vector>

#include "omi_Swapper.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileCache.h"
#include "qvt_FileRepr.h"
#include "qvt_RemoteTestSupport.h"
#include "uti_Spawn.h"
#include "utl_BinStream.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

constexpr int kPage = 64 * 1024;
constexpr int kValues = 200000;  // 1.6 MB of doubles: the page at 1 MiB lies among them

std::vector<char> ReadAt(const qvt_File& file, std::int64_t at, int count) {
  std::vector<char> bytes(static_cast<std::size_t>(count));
  file.Repr()->Seek(at);
  bytes.resize(static_cast<std::size_t>(file.Repr()->Read(bytes.data(), count)));
  return bytes;
}

class ReadAhead : public ::testing::TestWithParam<bool> {};  // is the status asked first?

TEST_P(ReadAhead, PageReadBeforeAFlushIsNotServedAfterIt) {
  RemoteEnvironment env(kPage / 1024);
  ScratchDir dir;
  const std::string path = dir.File("run.odb");
  qvt_Database writer =
      qvt_Database::Create(qvt_File::Open(path, utl_FileAccessCreate, false), "ODB", "w", 1);
  qvt_Array<double, 4> values = writer.ArrayDouble(1, -1, 0);
  std::vector<double> v(kValues);
  const auto rewrite = [&](double fill) {
    std::fill(v.begin(), v.end(), fill);
    values.Seek(0);
    values.Write(v.data(), kValues);
    values.Flush();
    writer.Flush();
  };
  rewrite(1.0);
  qvt_File remote = qvt_File::Open(RemoteEnvironment::Url(path), "");
  (void)ReadAt(remote, 0, 1 << 20);  // full pages: the assistant reads the next one ahead
  EXPECT_EQ(remote.Repr()->FileStatus(), qvt_FileStatus::Unchanged);
  rewrite(2.0);
  if (GetParam()) {
    EXPECT_EQ(remote.Repr()->FileStatus(), qvt_FileStatus::Updated);
  }
  const qvt_File local = qvt_File::Open(path, utl_FileAccessRead, true);
  EXPECT_EQ(ReadAt(remote, 1 << 20, kPage), ReadAt(local, 1 << 20, kPage));
}

INSTANTIATE_TEST_SUITE_P(StatusFirst, ReadAhead, ::testing::Bool());

class BrokenFill : public ::testing::TestWithParam<int> {};  // bytes sent before the end

TEST_P(BrokenFill, LeavesThePageHoldingNothing) {
  RemoteEnvironment env(4, 1);
  ScratchDir dir;
  qvt_FileCache cache(dir.Path());
  qvt_FileCacheMap map;
  qvt_FileCachePage* page = cache.Lookup(0, map);
  const std::vector<cow_String> shell = {"-c", "head -c " + std::to_string(GetParam()) + " /dev/zero"};
  auto child = uti_SpawnSourceWithSink::spawnSourceWithSink("sh", "/bin/sh", shell, uti_Redirection{}, {});
  utl_BinIStream stream(child->Source(), EndianLittle, 10000);
  EXPECT_THROW(cache.Fill(*page, 4096, stream), utl_BinStreamEOF);
  EXPECT_EQ(page->valid, 0);
}

INSTANTIATE_TEST_SUITE_P(Cut, BrokenFill, ::testing::Values(0, 100, 4095));

}  // namespace
}  // namespace qvt_test
