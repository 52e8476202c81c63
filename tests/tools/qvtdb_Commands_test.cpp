// qvtdb's commands on a sample with one object of every kind, on damaged files and through the assistant:
// their exact text; a failure is one line on standard error, status 2 for bad usage, 1 for a refusal or the
// library's message; a refused conversion leaves no target, a round trip keeps every byte.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "qvt_QvtdbRunner.h"
#include "qvt_RemoteTestSupport.h"

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
      {{"compress", s, nowhere}, "", 1,
       "***ERROR: open failed for file " + nowhere + ".qvtdb-partial: No such file or directory"},
      {{"compress", s, keep}, "", 1, keep + " exists; add --force to overwrite it"},
      {{"demo", keep, "--frames", "1"}, "", 1, keep + " exists; add --force to overwrite it"},
      {{"decompress", s, sameFile, "--force"}, "", 1, "source and target are the same file: " + sameFile},
      {{"compress", busy, target}, "", 1,
       "a writer is changing " + busy + " now (its transaction lock exists); try again when it has finished"},
  };
  for (const Call& c : cases) {
    SCOPED_TRACE("qvtdb " + ::testing::PrintToString(c.arguments));
    const ChildResult result = RunEnding(c.status, c.arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.message == "?" && !result.err.empty() ? result.err
                          : c.message.empty()                      ? ""
                                                                   : "qvtdb: " + c.message + "\n");
  }
  // The string pool is a space like any other: its marker first.
  EXPECT_EQ(Lines(OutputOf({"dump", s, "1", "--rows", "0"}))[1].substr(0, 21), "00000000  aa ff bb ee");
  EXPECT_EQ(ReadAll(keep), precious);
  EXPECT_EQ(ReadAll(s), sampleBytes);
  for (const std::string& path : {target, target + ".qvtdb-partial", nowhere}) {
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
  }
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

}  // namespace
}  // namespace qvt_test
