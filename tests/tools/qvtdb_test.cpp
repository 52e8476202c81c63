// qvtdb as a child process: every command's exact text on a sample, damaged files and URLs; one-line failures
// with their status; demo, watch and unlock beside a writer process.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_RemoteTestSupport.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qvt_test {
namespace {

// A child body that becomes the qvtdb built beside these tests, in cwd when given.
std::function<int()> QvtdbProcess(const std::vector<std::string>& arguments, const std::string& cwd = "") {
  return [arguments, cwd]() {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) return 126;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {  // a finding must not pass for status 1
      const std::string old = std::getenv(name) ? std::getenv(name) : "";
      ::setenv(name, (old + (old.empty() ? "" : ":") + "exitcode=86").c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>("qvtdb")};
    for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execv(QVTDB_BINARY, argv.data());
    return 127;
  };
}

// Expects a run that ended by itself (no signal, no timeout) with status.
ChildResult EndedWith(int status, ChildResult r) {
  EXPECT_TRUE(r.exited && !r.timedOut && r.exitCode == status)
      << "signal " << r.signal << ", status " << r.exitCode << "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
  return r;
}

// Runs qvtdb, killed after timeoutMs, and expects it to end by itself with status.
ChildResult RunEnding(int status, const std::vector<std::string>& arguments, int timeoutMs = 60000,
                      const std::string& cwd = "") {
  SCOPED_TRACE("qvtdb " + ::testing::PrintToString(arguments));
  return EndedWith(status, ChildProcess(QvtdbProcess(arguments, cwd)).Wait(timeoutMs));
}

// The standard output of a run that ends with status and nothing on standard error.
std::string OutputOf(const std::vector<std::string>& arguments, int status = 0, int timeoutMs = 60000,
                     const std::string& cwd = "") {
  const ChildResult result = RunEnding(status, arguments, timeoutMs, cwd);
  EXPECT_EQ(result.err, "") << "qvtdb " << ::testing::PrintToString(arguments);
  return result.out;
}

// Whether text holds part; a failure shows the whole text.
::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CommandLine, HelpListsEverySubcommand) {
  const std::string help = OutputOf({"--help"});
  for (const char* name : {"info", "ls", "classes", "dump", "locate", "unlock", "check", "compress",
                           "decompress", "watch", "demo"}) {
    EXPECT_TRUE(Has(help, "\n  " + std::string(name) + " ")) << name;
  }
  EXPECT_FALSE(Has(help, "demo-reader")) << "the demo's own process stays out of the help";
}

// Standard output, status, and the message after "qvtdb: " on standard error ("?": the command-line
// parser's own text, not empty).
struct Call {
  std::vector<std::string> arguments;
  std::string out;
  int status = 0;
  std::string message = "";
};

TEST(Inspect, EveryCommandPrintsExactlyAndEveryFailureIsOneLine) {
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("sample.odb"), false);
  const std::string s = sample.path, t = std::to_string(sample.table), header = "row,d,f,h,i,s\n";
  const std::string row[] = {"0,1,0,6,-7,zero\n", "1,0.5,0.1,6,3,one\n", "2,0.3333333333333333,0.2,6,13,\n",
                             "3,0.25,0.3,6,23,\"he said \"\"hi\"\", then\nleft\"\n", "4,0.2,,6,33,four\n"};
  const std::string json =
      R"({"handle":4,"kind":"table","class":"samples","fields":[{"name":"d","type":"double"},)"
      R"({"name":"f","type":"float"},{"name":"h","type":"handle"},{"name":"i","type":"int"},)"
      R"({"name":"s","type":"string"}],"length":5,"rows":[)";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", sample.intArray);
  const std::vector<unsigned char> sampleBytes = ReadAll(s), precious{'k', 'e', 'e', 'p'};
  const std::string notes = dir.File("notes.txt"), keep = dir.File("keep.odb"), busy = dir.File("busy.odb");
  WriteAll(notes, std::vector<unsigned char>(3000, 'x'));
  WriteAll(keep, precious);
  WriteAll(busy, sampleBytes);
  ASSERT_EQ(::mkdir(dir.File("busy.lsm").c_str(), 0755), 0);  // a writer's transaction lock
  const std::string missing = dir.File("missing.odb"), target = dir.File("target.cdb");
  const std::string nowhere = dir.File("no/such/folder/target.cdb"), sameFile = dir.Path() + "/./sample.odb";
  const std::vector<Call> cases = {
      {{"info", s},
       "file          " + sample.path +
           "\nkind          plain\nlength        16116 bytes\ntype code     SMPL\nversion       12\n"
           "description   sample database for the tool\n"
           "created       1700000000 (2023-11-14 22:13:20 UTC)\nflush count   2\nstatistics\n"
           "  Block 0 Size (bytes) = 1024\n  Total Linkage Usage (bytes) = 14336\n"
           "  Metadata Pool Size (bytes) = 100\n  String Pool Size (bytes) = 184\n"
           "  String Pool Count (number of strings) = 17\n  String Pool Linkage_Count = 2\n"
           "objects       11\n  double array  1\n  float array   1\n  int array     1\n"
           "  other         4\n  string array  1\n  table         2\n  tagged stream 1\n"},
      {{"ls", s},
       "  HANDLE  TYPE                   LENGTH  EXTENTS  DETAILS\n"
       "       1  other                     184        2  string pool\n"
       "       2  other                       0        1  reserved\n"
       "       3  other                     100        2  metadata pool\n"
       "       4  table                     192        2  class samples, 5 rows\n"
       "       5  table                      12        1  class empty, 0 rows\n"
       "       6  int array                  40        1  3 rows of 2\n"
       "       7  float array                24        1  2 rows of 1\n"
       "       8  double array               40        1  1 row of 3\n"
       "       9  string array               48        1  2 rows of 2\n"
       "      10  tagged stream             100        1\n"
       "      11  other                      14        1\n"},
      {{"classes", s},
       "empty  (1 fields, record at offset 76 of the metadata pool)\n  n  int\n"
       "samples  (5 fields, record at offset 4 of the metadata pool)\n"
       "  d  double\n  f  float\n  h  handle\n  i  int\n  s  string\n"},
      {{"locate", s, std::to_string(FileOffsetOf(ReadAll(sample.path), sample.space, 5))},
       "Object: 0000000b - Offset:                    5\n"},
      {{"locate", s, "0"}, "Object not found.\n"},
      {{"locate", s, "0x400"}, "Object not found.\n"},
      {{"locate", s, "999999999"}, "Object not found.\n"},
      {{"dump", s, t, "--format", "text"},
       "row    d                         f                h           i            s\n"
       "0      1                         0                6           -7           zero\n"
       "1      0.5                       0.1              6           3            one\n"
       "2      0.3333333333333333        0.2              6           13\n"
       "3      0.25                      0.3              6           23           he said \"hi\", "
       "then\\x0aleft\n"
       "4      0.2                                        6           33           four\n"},
      {{"dump", s, t, "--format", "csv"}, header + row[0] + row[1] + row[2] + row[3] + row[4]},
      {{"dump", s, t, "--format", "csv", "--rows", "1:2"}, header + row[1] + row[2]},
      {{"dump", s, t, "--format", "csv", "--rows", "4:"}, header + row[4]},
      {{"dump", s, t, "--format", "csv", "--rows", ":0"}, header + row[0]},
      {{"dump", s, t, "--format", "csv", "--rows", "3"}, header + row[3]},
      {{"dump", s, t, "--format", "csv", "--rows", "7:9"}, header},
      {{"dump", s, std::to_string(sample.emptyTable), "--format", "csv"}, "row,n\n"},
      // JSON: a float by its shortest text, a string escaped, no rows an empty list.
      {{"dump", s, t, "--format", "json", "--rows", "3"},
       json + "\n" +
           R"({"row":3,"values":{"d":0.25,"f":0.3,"h":6,"i":23,"s":"he said \"hi\", then\nleft"}})" +
           "\n]}\n"},
      {{"dump", s, t, "--format", "json", "--rows", "7:"}, json + "]}\n"},
      {{"dump", s, hex, "--format", "csv"}, "row,v0,v1\n0,1,2\n1,3,4\n2,5,6\n"},
      {{"dump", s, std::to_string(sample.floatArray), "--format", "csv", "--rows", "1:"}, "row,v0\n1,1.25\n"},
      {{"dump", s, std::to_string(sample.doubleArray), "--format", "csv"}, "row,v0,v1,v2\n0,1e-300,2.5,-3\n"},
      {{"dump", s, std::to_string(sample.stringArray), "--format", "csv"},
       "row,v0,v1\n0,alpha,beta\n1,,\"gamma, delta\"\n"},
      {{"dump", s, std::to_string(sample.stream), "--format", "csv"},
       "record,type,id,value\n0,int,5,42\n1,handle,6," + t +
           "\n2,float,7,1.5\n3,double,8,-0.25\n4,string,9,pooled text\n5,fixed string,10,fixed\n"},
      {{"dump", s, std::to_string(sample.space), "--format", "text"},
       "offset    hex                                              text\n"
       "00000000  68 65 6c 6c 6f 20 73 70 61 63 65 00 01 ff        hello space...\n"},
      {{}, "", 2, "?"},
      {{"info"}, "", 2, "?"},
      {{"dump", s, "4", "--format", "xml"}, "", 2, "?"},
      {{"demo", "--frames", "0"}, "", 2, "?"},
      {{"dump", s, "four"}, "", 2, "not a valid handle: \"four\""},
      {{"dump", s, "0x"}, "", 2, "not a valid handle: \"0x\""},
      {{"dump", s, "99999999999"}, "", 2, "handle out of range: \"99999999999\""},
      {{"dump", s, "4", "--rows", "3:1"}, "", 2, "row range 3:1 ends before it starts"},
      {{"dump", s, "4", "--rows", "a:"}, "", 2, "not a valid first row: \"a\""},
      {{"dump", s, "4", "--rows", "-1"}, "", 2, "not a valid row: \"-1\""},
      {{"locate", s, "-5"}, "", 2, "not a valid offset: \"-5\""},
      // The library's messages pass through one path; the library's tests hold their texts.
      {{"info", missing}, "", 1, "*** ERROR: No such file: " + missing + "."},
      {{"compress", missing, target}, "", 1, "*** ERROR: No such file: " + missing + "."},
      {{"compress", notes, target}, "", 1, "***ERROR: \"" + notes + "\"  is not an KELVOR database file."},
      {{"compress", s, nowhere},
       "",
       1,
       "***ERROR: open failed for file " + nowhere + ".qvtdb-partial: No such file or directory"},
      {{"compress", s, keep}, "", 1, keep + " exists; add --force to overwrite it"},
      {{"demo", keep, "--frames", "1"}, "", 1, keep + " exists; add --force to overwrite it"},
      {{"decompress", s, sameFile, "--force"}, "", 1, "source and target are the same file: " + sameFile},
      {{"compress", busy, target},
       "",
       1,
       "a writer is changing " + busy +
           " now (its transaction lock exists); try again when it has finished"}};
  for (const Call& c : cases) {
    SCOPED_TRACE("qvtdb " + ::testing::PrintToString(c.arguments));
    const ChildResult result = RunEnding(c.status, c.arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.message == "?" && !result.err.empty() ? result.err
                          : c.message.empty()                     ? ""
                                                                  : "qvtdb: " + c.message + "\n");
  }
  // The string pool is a space like any other: its marker first.
  EXPECT_EQ(Lines(OutputOf({"dump", s, "1", "--rows", "0"}))[1].substr(0, 21), "00000000  aa ff bb ee");
  EXPECT_EQ(std::make_tuple(ReadAll(keep), ReadAll(s)), std::make_tuple(precious, sampleBytes));
  for (const std::string& path : {target, target + ".qvtdb-partial", nowhere})
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
}

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

// Every kind of file reads as the plain one.
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

constexpr int kTimeoutMs = 120000;

// What the reader finds at opening, at any moment of the writer's run, counts as seen. A writer that never
// pauses outruns its reader, and 600 frames take the linkage into a second block.
TEST(Follow, DemoRunsToTheEndWithEveryFrameFollowedOnce) {
  ScratchDir dir;
  WriteAll(dir.File("keep.odb"), {'k', 'e', 'e', 'p'});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"demo", "run.odb", "--frames", "5", "--interval", "100"}, "reader: refresh 1, flush count "},
      {{"demo", "run.cdb", "--compressed", "--frames", "4", "--interval", "30"}, ""},
      // Without a file: in the current folder, saying where, and simply written again.
      {{"demo", "--frames", "2", "--interval", "0"},
       "demo: the writer creates " + dir.File("qvtdb-demo.odb") +
           " and writes 2 frames; a second process follows it\n"},
      {{"demo", "--frames", "1", "--interval", "0"}, ""},
      {{"demo", "keep.odb", "--frames", "1", "--interval", "0", "--force"}, ""},
      {{"demo", "fast.odb", "--frames", "600", "--interval", "0"}, ""}};
  for (const auto& c : cases) {
    const std::string file = c.first[1][0] == '-' ? "qvtdb-demo.odb" : c.first[1];
    const std::string kind = c.first[2] == "--compressed" ? "compressed" : "plain";
    const std::string frames = *(std::find(c.first.begin(), c.first.end(), "--frames") + 1);
    const int count = std::stoi(frames);
    const std::string out = OutputOf(c.first, 0, kTimeoutMs, dir.Path());
    // Each frame once, except behind the writer that never pauses.
    for (int frame = 1; frame <= count && count < 600; ++frame) {
      EXPECT_EQ(Count(out, "writer: frame " + std::to_string(frame) + "/"), 1) << out;
      EXPECT_EQ(Count(out, "          frame " + std::to_string(frame) + "  t="), 1) << frame << "\n" << out;
    }
    for (const std::string& part : std::vector<std::string>{
             "reader: opened " + file + " at flush count ", ": " + frames + " frames planned on 40 nodes\n",
             "120 nodal values read, max |U| = 0.010000  (converged in ",
             "reader: [########################] " + frames + "/" + frames + " frames\n",
             "          message: analysis complete\n",
             "reader: the writer finished; " + frames + " frames followed in ",
             "\ninfo of " + file + ":\nfile          " + file + "\nkind          " + kind + "\n",
             "  double array  " + frames + "\n", c.second}) {
      EXPECT_TRUE(Has(out, part));
    }
    EXPECT_TRUE(Has(OutputOf({"check", file}, 0, kTimeoutMs, dir.Path()),
                    ": sound " + kind + " database, " + std::to_string(count + 6) + " objects (" +
                        std::to_string(count + 1) + " arrays, 4 tables, 1 tagged stream)"));
  }
}

// The shared batch writer: "ready" once created, then a line awaited on standard input before each step.
int WriteBatchesOnCue(const std::string& path, int batches) {
  WriteBatches(path, false, true, batches, [](int done) {
    if (done == 0) std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (std::fgets(line, sizeof line, stdin) == nullptr) std::exit(3);
  });
  return 0;
}

// Each batch is seen before the next is written. By URL watch is then interrupted; by path a database
// created again under the same name is taken up before its rows come, and watch stops when idle.
TEST(Follow, WatchReportsEachRefreshAndADatabaseCreatedAgain) {
  RemoteEnvironment remote;
  ScratchDir dir;
  for (const bool url : {false, true}) {
    const std::string path = dir.File(url ? "url.odb" : "watched.odb");
    const std::string file = url ? RemoteEnvironment::Url(path) : path;
    ChildProcess writer([&] { return WriteBatchesOnCue(path, 3); });
    ASSERT_TRUE(writer.WaitForStdout("ready\n", kTimeoutMs)) << writer.ErrSoFar();
    ChildProcess watch(QvtdbProcess({"watch", file, "--until-idle", url ? "0" : "1.5", "--interval", "20"}));
    ASSERT_TRUE(watch.WaitForStdout("spaces\n", kTimeoutMs)) << watch.ErrSoFar();
    for (const char* rows : {"+1 row, now 1\n", "+1 row, now 2\n", "+1 row, now 3\n"}) {
      ASSERT_TRUE(writer.WriteStdin("go\n"));
      ASSERT_TRUE(watch.WaitForStdout(rows, 20000)) << watch.OutSoFar() << watch.ErrSoFar();
    }
    ASSERT_TRUE(writer.WriteStdin("close\n"));
    EXPECT_TRUE(writer.Wait(kTimeoutMs).Succeeded());
    ASSERT_TRUE(watch.WaitForStdout("refresh: flush count 5\n", 20000)) << watch.OutSoFar();
    if (url) {
      ::kill(watch.Pid(), SIGINT);
    } else {
      ASSERT_EQ(std::remove(path.c_str()), 0);
      ChildProcess second([&] { return WriteBatchesOnCue(path, 1); });
      ASSERT_TRUE(second.WaitForStdout("ready\n", kTimeoutMs));
      ASSERT_TRUE(watch.WaitForStdout("] watching " + file, 20000)) << watch.OutSoFar() << watch.ErrSoFar();
      ASSERT_TRUE(second.WriteStdin("go\nclose\n"));
      EXPECT_TRUE(second.Wait(kTimeoutMs).Succeeded());
    }
    const ChildResult result = EndedWith(0, watch.Wait(kTimeoutMs));
    const std::string first = result.out.substr(0, result.out.find("status: re-created\n"));
    const std::string again = result.out.substr(first.size());
    EXPECT_EQ(first.rfind("watching " + file + ": flush count 1, 5 spaces\n", 0), 0u) << first;
    EXPECT_EQ(Count(first, "refresh: flush count "), 4) << first;  // three batches and the close
    EXPECT_EQ(Count(first, "status: updated\n"), 4) << first;
    for (const char* line :
         {"table 4 (class batches): +1 row, now 3\n", "new double array 17 (2 per row), 3 rows\n",
          "other 1 (string pool): +32 bytes, now 144\n",
          "tagged stream 5: +2 records, now 6\n               record of stream 5: int id 2 = 14\n",
          "] refresh: flush count 5\n             no new objects, rows or records\n"})
      EXPECT_TRUE(Has(first, line));
    if (url) {
      EXPECT_TRUE(Has(result.out, "s] interrupted; stopping\n"));
    } else {
      for (const std::string& line :
           {"] watching " + file + ": flush count 1, 5 spaces\n", std::string("+1 row, now 1\n"),
            std::string("s] idle for 1.5 s; stopping at flush count 3\n")})
        EXPECT_TRUE(Has(again, line));
    }
  }
}

// unlock removes a lock only when no writer holds the file.
TEST(Follow, StaleLockIsToldApartAndRemovedByUnlock) {
  ScratchDir dir;
  const std::string path = dir.File("run.odb"), lock = dir.File("run.lsm");
  const std::string stale =
      "stale transaction lock " + lock + ": no writer holds the file (qvtdb unlock removes it)";
  WriteBatches(path, false, true, 2);
  std::filesystem::create_directory(lock);
  EXPECT_TRUE(Has(OutputOf({"info", path}), "\ntransaction   " + stale + "\n"));
  const std::string watch = OutputOf({"watch", path, "--until-idle", "0.3", "--interval", "20"}, 0, 20000);
  EXPECT_TRUE(Has(watch, "status: in transaction (" + stale + ")\n"));
  EXPECT_TRUE(Has(watch, "idle for 0.3 s; stopping"));
  {
    qvt_Database writer = qvt_Database::Open(qvt_File::Open(path, 1, true), "BTCH");
    EXPECT_TRUE(Has(OutputOf({"info", path}), "\ntransaction   in progress\n"));
    EXPECT_EQ(RunEnding(1, {"unlock", path}).err,
              "qvtdb: a writer holds " + path + "; its transaction lock " + lock + " stays\n");
    EXPECT_TRUE(std::filesystem::exists(lock));
  }
  EXPECT_EQ(OutputOf({"unlock", path}), path + ": removed the stale transaction lock " + lock + "\n");
  EXPECT_FALSE(std::filesystem::exists(lock));
  EXPECT_EQ(OutputOf({"unlock", path}), path + ": no transaction lock\n");
}

}  // namespace
}  // namespace qvt_test
