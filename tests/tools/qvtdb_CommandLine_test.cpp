// qvtdb as a process: help everywhere, exit status 2 for bad usage, and a
// failure of the library as one line on standard error with status 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_ToolSampleDatabase.h"
#include "qvt_TestSupport.h"

namespace qvt_test {
namespace {

const std::vector<std::string> kSubcommands = {"info",     "ls",         "classes", "dump", "locate", "check",
                                               "compress", "decompress", "watch",   "demo"};

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override { m_Sample = WriteSampleDatabase(m_Dir.File("sample.odb"), false); }
  ScratchDir m_Dir;
  SampleDatabase m_Sample;
};

TEST_F(CommandLine, HelpOfTheToolListsEverySubcommand) {
  const ChildResult result = RunQvtdb({"--help"});
  QVT_EXPECT_EXIT(result, 0);
  for (const std::string& name : kSubcommands) {
    EXPECT_NE(result.out.find("\n  " + name + " "), std::string::npos) << name;
  }
  EXPECT_EQ(result.out.find("demo-reader"), std::string::npos) << "the demo's own process stays out of the help";
  EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, EverySubcommandHasHelp) {
  for (const std::string& name : kSubcommands) {
    const ChildResult result = RunQvtdb({name, "--help"});
    QVT_EXPECT_EXIT(result, 0);
    EXPECT_NE(result.out.find("Usage: qvtdb " + name), std::string::npos) << result.out;
  }
}

TEST_F(CommandLine, BadUsageExitsWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"info"},
      {"info", "a.odb", "b.odb"},
      {"dump", m_Sample.path},
      {"dump", m_Sample.path, "4", "--format", "xml"},
      {"compress", m_Sample.path},
      {"watch", m_Sample.path, "--until-idle", "soon"},
      {"demo", "--frames", "0"},
  };
  for (const auto& arguments : cases) {
    const ChildResult result = RunQvtdb(arguments);
    QVT_EXPECT_EXIT(result, 2);
    EXPECT_NE(result.err, "");
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(CommandLine, UnacceptableArgumentsExitWithTwoAndOneLine) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"dump", m_Sample.path, "four"}, "qvtdb: not a valid handle: \"four\"\n"},
      {{"dump", m_Sample.path, "0x"}, "qvtdb: not a valid handle: \"0x\"\n"},
      {{"dump", m_Sample.path, "99999999999"}, "qvtdb: handle out of range: \"99999999999\"\n"},
      {{"dump", m_Sample.path, "4", "--rows", "3:1"}, "qvtdb: row range 3:1 ends before it starts\n"},
      {{"dump", m_Sample.path, "4", "--rows", "a:"}, "qvtdb: not a valid first row: \"a\"\n"},
      {{"dump", m_Sample.path, "4", "--rows", "-1"}, "qvtdb: not a valid row: \"-1\"\n"},
      {{"locate", m_Sample.path, "-5"}, "qvtdb: not a valid offset: \"-5\"\n"},
  };
  for (const Case& c : cases) {
    const ChildResult result = RunQvtdb(c.arguments);
    QVT_EXPECT_EXIT(result, 2);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(CommandLine, LibraryFailureIsItsMessageOnOneLine) {
  const std::string missing = m_Dir.File("missing.odb");
  const ChildResult result = RunQvtdb({"info", missing});
  QVT_EXPECT_EXIT(result, 1);
  EXPECT_EQ(result.err, "qvtdb: *** ERROR: No such file: " + missing + ".\n");
  EXPECT_EQ(result.out, "");
}

TEST_F(CommandLine, MultiLineLibraryMessageBecomesOneLine) {
  // The old-format message spans seven lines in the library.
  std::vector<unsigned char> bytes(2048, 0);
  const std::string head = "WOXDFM";
  std::copy(head.begin(), head.end(), bytes.begin());
  const std::string path = m_Dir.File("old.odb");
  WriteAll(path, bytes);
  const ChildResult result = RunQvtdb({"ls", path});
  QVT_EXPECT_EXIT(result, 1);
  EXPECT_EQ(result.err,
            "qvtdb: ***ERROR: \"" + path +
                "\" is an old format KELVOR database file. database files generated with an KELVOR analysis "
                "version prior to 6.1-1 cannot be opened with the current version of Kelvor/Viewer. Please rerun "
                "the analysis using the current KELVOR analysis version.\n");
}

TEST_F(CommandLine, HandleThatNamesNoObjectIsTheLibrarysMessage) {
  const ChildResult result = RunQvtdb({"dump", m_Sample.path, "400"});
  QVT_EXPECT_EXIT(result, 1);
  EXPECT_EQ(result.err,
            "qvtdb: ***ERROR: Database is not valid. This may indicate that the database has been corrupted.\n");
}

TEST_F(CommandLine, HandlesAndOffsetsMayBeHexadecimal) {
  const ChildResult decimal = RunQvtdb({"dump", m_Sample.path, std::to_string(m_Sample.intArray)});
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", m_Sample.intArray);
  const ChildResult hexadecimal = RunQvtdb({"dump", m_Sample.path, hex});
  QVT_EXPECT_EXIT(hexadecimal, 0);
  EXPECT_EQ(decimal.out, hexadecimal.out);
}

}  // namespace
}  // namespace qvt_test
