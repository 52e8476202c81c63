// qvtdb's help and failures: one line on standard error, status 2 for bad usage, 1 for a refusal or the
// library's message; a refused conversion leaves no target behind.
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qvt_test {
namespace {

TEST(CommandLine, HelpListsEverySubcommand) {
  const std::string help = OutputOf({"--help"});
  for (const char* name : {"info", "ls", "classes", "dump", "locate", "unlock", "check", "compress",
                           "decompress", "watch", "demo"}) {
    EXPECT_TRUE(Has(help, "\n  " + std::string(name) + " ")) << name;
  }
  EXPECT_FALSE(Has(help, "demo-reader")) << "the demo's own process stays out of the help";
}

TEST(CommandLine, FailuresAreOneLineWithTheirStatus) {
  ScratchDir dir;
  const std::string s = WriteSampleDatabase(dir.File("sample.odb"), false).path;
  const std::vector<unsigned char> sample = ReadAll(s), precious{'k', 'e', 'e', 'p'};
  const std::string notes = dir.File("notes.txt"), keep = dir.File("keep.odb"), busy = dir.File("busy.odb");
  WriteAll(notes, std::vector<unsigned char>(3000, 'x'));
  WriteAll(keep, precious);
  WriteAll(busy, sample);
  ASSERT_EQ(::mkdir(dir.File("busy.lsm").c_str(), 0755), 0);  // a writer's transaction lock
  const std::string missing = dir.File("missing.odb"), target = dir.File("target.cdb");
  const std::string nowhere = dir.File("no/such/folder/target.cdb"), sameFile = dir.Path() + "/./sample.odb";
  // Arguments, status, and the message after "qvtdb: " (none: the command-line parser's own text).
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{}, 2, ""},
      {{"info"}, 2, ""},
      {{"dump", s, "4", "--format", "xml"}, 2, ""},
      {{"demo", "--frames", "0"}, 2, ""},
      {{"dump", s, "four"}, 2, "not a valid handle: \"four\""},
      {{"dump", s, "0x"}, 2, "not a valid handle: \"0x\""},
      {{"dump", s, "99999999999"}, 2, "handle out of range: \"99999999999\""},
      {{"dump", s, "4", "--rows", "3:1"}, 2, "row range 3:1 ends before it starts"},
      {{"dump", s, "4", "--rows", "a:"}, 2, "not a valid first row: \"a\""},
      {{"dump", s, "4", "--rows", "-1"}, 2, "not a valid row: \"-1\""},
      {{"locate", s, "-5"}, 2, "not a valid offset: \"-5\""},
      // The library's messages pass through one path; the library's tests hold their texts.
      {{"info", missing}, 1, "*** ERROR: No such file: " + missing + "."},
      {{"compress", missing, target}, 1, "*** ERROR: No such file: " + missing + "."},
      {{"compress", notes, target}, 1, "***ERROR: \"" + notes + "\"  is not an KELVOR database file."},
      {{"compress", s, nowhere},
       1,
       "***ERROR: open failed for file " + nowhere + ".qvtdb-partial: No such file or directory"},
      {{"compress", s, keep}, 1, keep + " exists; add --force to overwrite it"},
      {{"demo", keep, "--frames", "1"}, 1, keep + " exists; add --force to overwrite it"},
      {{"decompress", s, sameFile, "--force"}, 1, "source and target are the same file: " + sameFile},
      {{"compress", busy, target},
       1,
       "a writer is changing " + busy + " now (its transaction lock exists); try again when it has finished"},
  };
  for (const auto& [arguments, status, message] : cases) {
    SCOPED_TRACE("qvtdb " + ::testing::PrintToString(arguments));
    const ChildResult result = RunEnding(status, arguments);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err, "");
    EXPECT_EQ(result.err, message.empty() ? result.err : "qvtdb: " + message + "\n");
  }
  EXPECT_EQ(ReadAll(keep), precious);
  EXPECT_EQ(ReadAll(s), sample);
  for (const std::string& path : {target, target + ".qvtdb-partial", nowhere}) {
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
  }
}

}  // namespace
}  // namespace qvt_test
