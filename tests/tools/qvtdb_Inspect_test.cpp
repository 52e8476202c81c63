// qvtdb info, ls, classes, locate and dump on a sample with one object of every kind: their exact text.
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

TEST(Inspect, EveryCommandPrintsExactly) {
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("sample.odb"), false);
  const auto run = [&sample](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin() + 1, sample.path);
    return OutputOf(arguments);
  };
  const std::string t = std::to_string(sample.table), header = "row,d,f,h,i,s\n";
  const std::string row[] = {"0,1,0,6,-7,zero\n", "1,0.5,0.1,6,3,one\n", "2,0.3333333333333333,0.2,6,13,\n",
                             "3,0.25,0.3,6,23,\"he said \"\"hi\"\", then\nleft\"\n", "4,0.2,,6,33,four\n"};
  const std::string json =
      R"({"handle":4,"kind":"table","class":"samples","fields":[{"name":"d","type":"double"},)"
      R"({"name":"f","type":"float"},{"name":"h","type":"handle"},{"name":"i","type":"int"},)"
      R"({"name":"s","type":"string"}],"length":5,"rows":[)";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", sample.intArray);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"info"},
       "file          " + sample.path +
           "\nkind          plain\nlength        16116 bytes\ntype code     SMPL\nversion       12\n"
           "description   sample database for the tool\n"
           "created       1700000000 (2023-11-14 22:13:20 UTC)\nflush count   2\nstatistics\n"
           "  Block 0 Size (bytes) = 1024\n  Total Linkage Usage (bytes) = 14336\n"
           "  Metadata Pool Size (bytes) = 100\n  String Pool Size (bytes) = 184\n"
           "  String Pool Count (number of strings) = 17\n  String Pool Linkage_Count = 2\n"
           "objects       11\n  double array  1\n  float array   1\n  int array     1\n"
           "  other         4\n  string array  1\n  table         2\n  tagged stream 1\n"},
      {{"ls"},
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
      {{"classes"},
       "empty  (1 fields, record at offset 76 of the metadata pool)\n  n  int\n"
       "samples  (5 fields, record at offset 4 of the metadata pool)\n"
       "  d  double\n  f  float\n  h  handle\n  i  int\n  s  string\n"},
      {{"locate", std::to_string(FileOffsetOf(ReadAll(sample.path), sample.space, 5))},
       "Object: 0000000b - Offset:                    5\n"},
      {{"locate", "0"}, "Object not found.\n"},
      {{"locate", "0x400"}, "Object not found.\n"},
      {{"locate", "999999999"}, "Object not found.\n"},
      {{"dump", t, "--format", "text"},
       "row    d                         f                h           i            s\n"
       "0      1                         0                6           -7           zero\n"
       "1      0.5                       0.1              6           3            one\n"
       "2      0.3333333333333333        0.2              6           13\n"
       "3      0.25                      0.3              6           23           he said \"hi\", "
       "then\\x0aleft\n"
       "4      0.2                                        6           33           four\n"},
      {{"dump", t, "--format", "csv"}, header + row[0] + row[1] + row[2] + row[3] + row[4]},
      {{"dump", t, "--format", "csv", "--rows", "1:2"}, header + row[1] + row[2]},
      {{"dump", t, "--format", "csv", "--rows", "4:"}, header + row[4]},
      {{"dump", t, "--format", "csv", "--rows", ":0"}, header + row[0]},
      {{"dump", t, "--format", "csv", "--rows", "3"}, header + row[3]},
      {{"dump", t, "--format", "csv", "--rows", "7:9"}, header},
      {{"dump", std::to_string(sample.emptyTable), "--format", "csv"}, "row,n\n"},
      // JSON: a float by its shortest text, a string escaped, no rows an empty list.
      {{"dump", t, "--format", "json", "--rows", "3"},
       json + "\n" +
           R"({"row":3,"values":{"d":0.25,"f":0.3,"h":6,"i":23,"s":"he said \"hi\", then\nleft"}})" +
           "\n]}\n"},
      {{"dump", t, "--format", "json", "--rows", "7:"}, json + "]}\n"},
      {{"dump", hex, "--format", "csv"}, "row,v0,v1\n0,1,2\n1,3,4\n2,5,6\n"},
      {{"dump", std::to_string(sample.floatArray), "--format", "csv", "--rows", "1:"}, "row,v0\n1,1.25\n"},
      {{"dump", std::to_string(sample.doubleArray), "--format", "csv"}, "row,v0,v1,v2\n0,1e-300,2.5,-3\n"},
      {{"dump", std::to_string(sample.stringArray), "--format", "csv"},
       "row,v0,v1\n0,alpha,beta\n1,,\"gamma, delta\"\n"},
      {{"dump", std::to_string(sample.stream), "--format", "csv"},
       "record,type,id,value\n0,int,5,42\n1,handle,6," + t +
           "\n2,float,7,1.5\n3,double,8,-0.25\n4,string,9,pooled text\n5,fixed string,10,fixed\n"},
      {{"dump", std::to_string(sample.space), "--format", "text"},
       "offset    hex                                              text\n"
       "00000000  68 65 6c 6c 6f 20 73 70 61 63 65 00 01 ff        hello space...\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.first), c.second) << ::testing::PrintToString(c.first);
  // The string pool is a space like any other: its marker first.
  EXPECT_EQ(Lines(run({"dump", "1", "--rows", "0"}))[1].substr(0, 21), "00000000  aa ff bb ee");
}

}  // namespace
}  // namespace qvt_test
