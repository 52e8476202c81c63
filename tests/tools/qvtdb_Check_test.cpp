// qvtdb check on the damaged corpus and on random damage: each problem named and counted, never a crash.
#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

TEST(Check, EachDamageIsNamed) {
  // The corpus README: "- <file>: <what is damaged> => <a line that check must print>".
  std::ifstream readme(std::string(QVT_TEST_CORPUS_DIR) + "/README.md");
  int files = 0;
  for (std::string line; std::getline(readme, line);) {
    const std::size_t colon = line.find(": "), arrow = line.find(" => ");
    if (line.rfind("- ", 0) != 0 || colon == std::string::npos || arrow == std::string::npos) continue;
    SCOPED_TRACE(line);
    const std::string path = QVT_TEST_CORPUS_DIR "/" + line.substr(2, colon - 2);
    // The expected problem among the lines, their count last.
    const std::vector<std::string> lines = Lines(OutputOf({"check", path}, 1));
    ASSERT_FALSE(lines.empty());
    const std::size_t problems = lines.size() - 1;
    EXPECT_EQ(lines.back(),
              path + ": " + std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " found");
    EXPECT_NE(std::find(lines.begin(), lines.end() - 1, path + ": " + line.substr(arrow + 4)),
              lines.end() - 1)
        << ::testing::PrintToString(lines);
    ++files;
  }
  EXPECT_GE(files, 30);
  // A damaged compressed container is that one problem.
  for (const char* name : {"/compressed-version.cdb", "/compressed-segment.cdb"}) {
    const std::string path = QVT_TEST_CORPUS_DIR + std::string(name);
    EXPECT_TRUE(Has(OutputOf({"check", path}, 1), path + ": 1 problem found\n"));
  }
  // A file with one structural problem is still listed, pointing to check.
  const std::string path = QVT_TEST_CORPUS_DIR "/extents-overlap.odb";
  for (const char* command : {"ls", "info"}) {
    const ChildResult result = RunEnding(1, {command, path});
    EXPECT_EQ(result.err,
              "qvtdb: " + path + ": 1 structural problem; run 'qvtdb check " + path + "' for the list\n");
    EXPECT_NE(result.out, "");
  }
}

// Status 0 is allowed: the damage may hit unused bytes.
TEST(Check, DamageAnywhereNeverCrashesOrHangs) {
  ScratchDir dir;
  const auto plain = ReadAll(WriteSampleDatabase(dir.File("sample.odb"), false).path);
  const auto packed = ReadAll(WriteSampleDatabase(dir.File("sample.cdb"), true).path);
  const std::string path = dir.File("damaged.cdb");
  const unsigned seed = 20240607;
  std::mt19937 random(seed);
  for (int run = 0; run < 75; ++run) {
    auto bytes = run % 3 == 2 ? packed : plain;
    for (int i = 0, flips = 1 + static_cast<int>(random() % 4); i < flips; ++i)
      bytes[random() % bytes.size()] ^= static_cast<unsigned char>(1 + random() % 255);
    WriteAll(path, bytes);
    const ChildResult result = ChildProcess(QvtdbProcess({"check", path})).Wait(60000);
    ASSERT_TRUE(result.exited && !result.timedOut && (result.exitCode == 0 || result.exitCode == 1))
        << "seed " << seed << ", run " << run << ": signal " << result.signal << " status " << result.exitCode
        << "\n" + result.out + result.err;
  }
}

}  // namespace
}  // namespace qvt_test
