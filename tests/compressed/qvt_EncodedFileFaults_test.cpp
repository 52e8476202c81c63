// A compressed file whose medium runs out of room: a child process writes
// under a file-size limit, swept over the points where the container grows.
// Every run ends in success or the operating system's refusal passed on as
// a clear exception, and the file left behind opens cleanly or is refused
// with an exception, never a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"

namespace {

constexpr long long kMiB = 1 << 20;

// Bytes zlib cannot shrink, so the container grows as fast as the data.
std::vector<char> NoiseBytes(std::size_t size) {
  std::mt19937 rng(99);
  std::vector<char> out(size);
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

TEST(EncodedFileFaultTest, RunningOutOfRoomIsAClearFailureAtEveryGrowthPoint) {
  qvt_test::ScratchDir dir;
  const std::string name = dir.File("full.mdb");
  const std::vector<char> data = NoiseBytes(static_cast<std::size_t>(3 * kMiB));
  for (const long long limit : {kMiB - 1, kMiB + 4096, 2 * kMiB - 1, 2 * kMiB + 100000, 3 * kMiB + 5, 8 * kMiB}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    qvt_test::WriteAll(name, {});
    const qvt_test::ChildResult result = qvt_test::RunChild([&] {
      if (!qvt_test::LimitFileSize(limit)) return 2;
      try {
        qvt_File file = qvt_File::CreateCompressed(name);
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
      qvt_File file = qvt_File::Open(name, 0, true);
      std::vector<char> got(data.size());
      EXPECT_EQ(file.Repr()->Read(got.data(), static_cast<int>(got.size())), static_cast<int>(data.size()));
      EXPECT_TRUE(got == data);
      continue;
    }
    EXPECT_EQ(result.out, "***ERROR: resize failed for file " + name + ": File too large\n");
    // Closing flushes again, which may fail the same way: reported, not thrown.
    if (!result.err.empty()) {
      EXPECT_EQ(result.err, "*** WARNING: Closing compressed file '" + name + "' failed: ***ERROR: resize failed for file " +
                                name + ": File too large\n");
    }
    try {
      qvt_File file = qvt_File::Open(name, 0, true);
      std::vector<char> got(static_cast<std::size_t>(file.Repr()->Length()));
      file.Repr()->Read(got.data(), static_cast<int>(got.size()));
    } catch (const nex_Exception& e) {
      SUCCEED() << "left-behind file refused: " << e.AsString();
    }
  }
}

}  // namespace
