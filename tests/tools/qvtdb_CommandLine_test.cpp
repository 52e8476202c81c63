// qvtdb as a process: help lists every subcommand, and every failure is one
// line on standard error with its status: 2 for bad usage, 1 for a refusal
// or the library's message. A refused conversion leaves no target behind.
#include <unistd.h>

#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qvt_test {
namespace {

TEST(CommandLine, HelpListsEverySubcommand) {
  const ChildResult result = RunQvtdb({"--help"});
  EXPECT_TRUE(Ended(result, 0));
  for (const char* name : {"info", "ls", "classes", "dump", "locate", "unlock", "check", "compress",
                           "decompress", "watch", "demo"}) {
    EXPECT_TRUE(Has(result.out, "\n  " + std::string(name) + " ")) << name;
  }
  EXPECT_FALSE(Has(result.out, "demo-reader")) << "the demo's own process stays out of the help";
  EXPECT_EQ(result.err, "");
}

struct Failure {
  std::vector<std::string> arguments;
  int status;
  std::string message;  // after "qvtdb: "; empty: the command-line parser's own text
};

TEST(CommandLine, FailuresAreOneLineWithTheirStatus) {
  ScratchDir dir;
  const std::string s = WriteSampleDatabase(dir.File("sample.odb"), false).path;
  const std::vector<unsigned char> sample = ReadAll(s);
  WriteAll(dir.File("notes.txt"), std::vector<unsigned char>(3000, 'x'));
  const std::vector<unsigned char> precious{'k', 'e', 'e', 'p'};
  WriteAll(dir.File("keep.odb"), precious);
  WriteAll(dir.File("busy.odb"), sample);
  ASSERT_EQ(::mkdir(dir.File("busy.lsm").c_str(), 0755), 0);  // a writer's transaction lock
  const std::string missing = dir.File("missing.odb");
  const std::string target = dir.File("target.cdb");
  const std::string nowhere = dir.File("no/such/folder/target.cdb");
  const std::string sameFile = dir.Path() + "/./sample.odb";
  const std::string exists = " exists; add --force to overwrite it";
  const std::vector<Failure> cases = {
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
      {{"compress", dir.File("notes.txt"), target},
       1,
       "***ERROR: \"" + dir.File("notes.txt") + "\"  is not an KELVOR database file."},
      {{"compress", s, nowhere},
       1,
       "***ERROR: open failed for file " + nowhere + ".qvtdb-partial: No such file or directory"},
      {{"compress", s, dir.File("keep.odb")}, 1, dir.File("keep.odb") + exists},
      {{"demo", dir.File("keep.odb"), "--frames", "1"}, 1, dir.File("keep.odb") + exists},
      {{"decompress", s, sameFile, "--force"}, 1, "source and target are the same file: " + sameFile},
      {{"compress", dir.File("busy.odb"), target},
       1,
       "a writer is changing " + dir.File("busy.odb") +
           " now (its transaction lock exists); try again when it has finished"},
  };
  for (const Failure& c : cases) {
    const ChildResult result = RunQvtdb(c.arguments);
    SCOPED_TRACE(c.arguments.empty() ? "no arguments" : c.arguments[0] + " " + c.message);
    EXPECT_TRUE(Ended(result, c.status));
    EXPECT_EQ(result.out, "");
    if (c.message.empty()) {
      EXPECT_NE(result.err, "");
    } else {
      EXPECT_EQ(result.err, "qvtdb: " + c.message + "\n");
    }
  }
  EXPECT_EQ(ReadAll(dir.File("keep.odb")), precious);
  EXPECT_EQ(ReadAll(s), sample);
  for (const std::string& path : {target, target + ".qvtdb-partial", nowhere}) {
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
  }
}

}  // namespace
}  // namespace qvt_test
