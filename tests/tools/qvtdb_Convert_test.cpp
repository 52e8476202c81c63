// qvtdb compress and decompress as processes: a round trip keeps every
// object and every byte, an existing target is overwritten only with
// --force, and the progress bar goes to standard error when asked.
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

std::string Head(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadAll(path);
  return std::string(bytes.begin(),
                     bytes.begin() + static_cast<long>(std::min<std::size_t>(6, bytes.size())));
}

TEST(Convert, CompressThenDecompressGivesADatabaseThatDumpsIdentically) {
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("sample.odb"), false);
  const std::string compressed = dir.File("sample.cdb");
  const std::string restored = dir.File("restored.odb");
  WriteAll(compressed, {'o', 'l', 'd'});
  const ChildResult there = RunQvtdb({"compress", sample.path, compressed, "--force"});
  QVT_EXPECT_EXIT(there, 0);
  EXPECT_EQ(there.out.rfind("compressed " + sample.path + " (16116 bytes) into " + compressed + " (", 0), 0u)
      << there.out;
  EXPECT_EQ(there.err, "") << "standard error is a pipe here, not a terminal";
  EXPECT_EQ(Head(compressed), "KVRTSA");
  const ChildResult back = RunQvtdb({"decompress", compressed, restored});
  QVT_EXPECT_EXIT(back, 0);
  EXPECT_EQ(back.out, "decompressed " + compressed + " (16116 bytes) into " + restored + " (16116 bytes)\n");
  EXPECT_EQ(ReadAll(restored), ReadAll(sample.path));

  std::vector<qvt_Handle> handles = sample.All();
  handles.insert(handles.end(), {1, 3});
  for (const qvt_Handle handle : handles) {
    std::vector<std::string> dump{"dump", sample.path, std::to_string(handle), "--format", "json"};
    const ChildResult original = RunQvtdb(dump);
    QVT_EXPECT_EXIT(original, 0);
    for (const std::string& path : {compressed, restored}) {
      dump[1] = path;
      EXPECT_EQ(RunQvtdb(dump).out, original.out) << "handle " << handle << " of " << path;
    }
  }
  for (const std::string& path : {compressed, restored}) QVT_EXPECT_EXIT(RunQvtdb({"check", path}), 0);

  const ChildResult shown = RunQvtdb({"compress", sample.path, dir.File("b.cdb"), "--progress", "always"});
  QVT_EXPECT_EXIT(shown, 0);
  EXPECT_EQ(shown.err.rfind("\rcompress [..............................]   0.0%  0 bytes of 15.7 KiB", 0), 0u)
      << shown.err;
  const std::string end = "\rcompress [##############################] 100.0%  15.7 KiB of 15.7 KiB\n";
  ASSERT_GE(shown.err.size(), end.size());
  EXPECT_EQ(shown.err.substr(shown.err.size() - end.size()), end);
  EXPECT_EQ(ReadAll(compressed), ReadAll(dir.File("b.cdb")));
}

}  // namespace
}  // namespace qvt_test
