// qvtdb compress and decompress, and qvtdb on URLs through the assistant: a
// round trip keeps every byte, and every kind of file reads as the plain one.
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_RemoteTestSupport.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

TEST(Convert, EveryKindOfFileReadsAsThePlainOneAndARoundTripKeepsEveryByte) {
  RemoteEnvironment remote(1, 0);
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("sample.odb"), false);
  const std::string compressed = dir.File("sample.cdb"), restored = dir.File("restored.odb");
  WriteAll(compressed, {'o', 'l', 'd'});
  // No progress bar: standard error is a pipe here, not a terminal.
  const std::string there = OutputOf({"compress", sample.path, compressed, "--force"});
  EXPECT_EQ(there.rfind("compressed " + sample.path + " (16116 bytes) into " + compressed + " (", 0), 0u)
      << there;
  EXPECT_EQ(OutputOf({"decompress", compressed, restored}),
            "decompressed " + compressed + " (16116 bytes) into " + restored + " (16116 bytes)\n");
  EXPECT_EQ(ReadAll(restored), ReadAll(sample.path));

  const std::vector<std::string> info = Lines(OutputOf({"info", sample.path}));
  const std::string ls = OutputOf({"ls", sample.path});
  ASSERT_GE(info.size(), 3u);
  std::vector<qvt_Handle> handles = sample.All();
  handles.insert(handles.end(), {1, 3});
  const std::pair<std::string, std::string> files[] = {{sample.path, "plain"},
                                                       {compressed, "compressed"},
                                                       {RemoteEnvironment::Url(sample.path), "remote"},
                                                       {RemoteEnvironment::Url(compressed), "remote"}};
  for (const auto& file : files) {
    SCOPED_TRACE(file.first);
    EXPECT_EQ(OutputOf({"check", file.first}),
              file.first + ": sound " + file.second +
                  " database, 8 objects (4 arrays, 1 other space, 2 tables, 1 tagged stream), "
                  "16116 bytes, flush count 2\n");
    EXPECT_EQ(OutputOf({"ls", file.first}), ls);
    std::vector<std::string> expected = info;
    expected[0] = "file          " + file.first;
    expected[1] = "kind          " + file.second;
    expected[2] += file.second == "compressed" ? " (uncompressed)" : "";
    EXPECT_EQ(Lines(OutputOf({"info", file.first})), expected);
    for (const qvt_Handle handle : file.second == "plain" ? std::vector<qvt_Handle>{} : handles) {
      std::vector<std::string> dump{"dump", sample.path, std::to_string(handle), "--format", "json"};
      const std::string original = OutputOf(dump);
      dump[1] = file.first;
      EXPECT_EQ(OutputOf(dump), original) << "handle " << handle;
    }
  }

  const std::string shown =
      RunEnding(0, {"compress", sample.path, dir.File("b.cdb"), "--progress", "always"}).err;
  EXPECT_EQ(shown.rfind("\rcompress [..............................]   0.0%  0 bytes of 15.7 KiB", 0), 0u)
      << shown;
  const std::string end = "\rcompress [##############################] 100.0%  15.7 KiB of 15.7 KiB\n";
  ASSERT_GE(shown.size(), end.size());
  EXPECT_EQ(shown.substr(shown.size() - end.size()), end);
  EXPECT_EQ(ReadAll(compressed), ReadAll(dir.File("b.cdb")));
}

}  // namespace
}  // namespace qvt_test
