// qvtdb info, ls, classes, locate and dump as processes on a sample database
// holding one object of every kind: the exact lines they print, and the
// JSON dump parsed back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_ToolSampleDatabase.h"
#include "qvt_TestSupport.h"

namespace qvt_test {
namespace {

using Json = nlohmann::json;

class Inspect : public ::testing::Test {
 protected:
  void SetUp() override { m_Sample = WriteSampleDatabase(m_Dir.File("sample.odb"), false); }

  std::string Run(const std::vector<std::string>& arguments) {
    const ChildResult result = RunQvtdb(arguments);
    QVT_EXPECT_EXIT(result, 0);
    EXPECT_EQ(result.err, "");
    return result.out;
  }
  std::string Dump(qvt_Handle handle, const std::string& format, const std::string& rows = "") {
    std::vector<std::string> arguments{"dump", m_Sample.path, std::to_string(handle), "--format", format};
    if (!rows.empty()) {
      arguments.push_back("--rows");
      arguments.push_back(rows);
    }
    return Run(arguments);
  }

  ScratchDir m_Dir;
  SampleDatabase m_Sample;
};

TEST_F(Inspect, InfoGivesKindHeaderStatisticsAndObjectsByType) {
  const std::vector<std::string> lines = Lines(Run({"info", m_Sample.path}));
  const std::vector<std::string> expected = {
      "file          " + m_Sample.path,
      "kind          plain",
      "length        " + std::to_string(FileSize(m_Sample.path)) + " bytes",
      "type code     SMPL",
      "version       12",
      "description   sample database for the tool",
      "created       1700000000 (2023-11-14 22:13:20 UTC)",
      "flush count   2",
      "statistics",
      "  Block 0 Size (bytes) = 1024",
      "  Total Linkage Usage (bytes) = 14336",
      "  Metadata Pool Size (bytes) = 100",
      "  String Pool Size (bytes) = 184",
      "  String Pool Count (number of strings) = 17",
      "  String Pool Linkage_Count = 2",
      "objects       11",
      "  double array  1",
      "  float array   1",
      "  int array     1",
      "  other         4",
      "  string array  1",
      "  table         2",
      "  tagged stream 1",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(Inspect, InfoOfACompressedFileSaysSo) {
  const SampleDatabase compressed = WriteSampleDatabase(m_Dir.File("sample.cdb"), true);
  const std::vector<std::string> lines = Lines(Run({"info", compressed.path}));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "kind          compressed");
  EXPECT_EQ(lines[2], "length        16116 bytes (uncompressed)");
}

TEST_F(Inspect, LsListsEveryObjectWithTypeLengthExtentsAndDetails) {
  const std::vector<std::string> lines = Lines(Run({"ls", m_Sample.path}));
  const std::vector<std::string> expected = {
      "  HANDLE  TYPE                   LENGTH  EXTENTS  DETAILS",
      "       1  other                     184        2  string pool",
      "       2  other                       0        1  reserved",
      "       3  other                     100        2  metadata pool",
      "       4  table                     192        2  class samples, 5 rows",
      "       5  table                      12        1  class empty, 0 rows",
      "       6  int array                  40        1  3 rows of 2",
      "       7  float array                24        1  2 rows of 1",
      "       8  double array               40        1  1 row of 3",
      "       9  string array               48        1  2 rows of 2",
      "      10  tagged stream             100        1",
      "      11  other                      14        1",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(Inspect, ClassesListFieldsInStoredOrderWithTypes) {
  const std::vector<std::string> expected = {
      "empty  (1 fields, record at offset 76 of the metadata pool)",
      "  n  int",
      "samples  (5 fields, record at offset 4 of the metadata pool)",
      "  d  double",
      "  f  float",
      "  h  handle",
      "  i  int",
      "  s  string",
  };
  EXPECT_EQ(Lines(Run({"classes", m_Sample.path})), expected);
}

TEST_F(Inspect, LocateNamesTheObjectAndOffsetOrNothing) {
  const std::vector<unsigned char> bytes = ReadAll(m_Sample.path);
  const std::size_t fifth = FileOffsetOf(bytes, m_Sample.space, 5);
  EXPECT_EQ(Run({"locate", m_Sample.path, std::to_string(fifth)}),
            "Object: 0000000b - Offset:                    5\n");
  EXPECT_EQ(Run({"locate", m_Sample.path, "0"}), "Object not found.\n");
  EXPECT_EQ(Run({"locate", m_Sample.path, "0x400"}), "Object not found.\n");
  EXPECT_EQ(Run({"locate", m_Sample.path, "999999999"}), "Object not found.\n");
}

TEST_F(Inspect, TableDumpsAsTextWithAbsentFieldsEmpty) {
  const std::vector<std::string> expected = {
      "row    d                         f                h           i            s",
      "0      1                         0                6           -7           zero",
      "1      0.5                       0.1              6           3            one",
      "2      0.3333333333333333        0.2              6           13",
      "3      0.25                      0.3              6           23           he said \"hi\", then\\x0aleft",
      "4      0.2                                        6           33           four",
  };
  EXPECT_EQ(Lines(Dump(m_Sample.table, "text")), expected);
}

TEST_F(Inspect, TableDumpsAsCsvWithQuotingAndAbsentFieldsEmpty) {
  EXPECT_EQ(Dump(m_Sample.table, "csv"),
            "row,d,f,h,i,s\n"
            "0,1,0,6,-7,zero\n"
            "1,0.5,0.1,6,3,one\n"
            "2,0.3333333333333333,0.2,6,13,\n"
            "3,0.25,0.3,6,23,\"he said \"\"hi\"\", then\nleft\"\n"
            "4,0.2,,6,33,four\n");
}

TEST_F(Inspect, TableDumpsAsJsonThatParsesBack) {
  const Json doc = Json::parse(Dump(m_Sample.table, "json"));
  EXPECT_EQ(doc["handle"], m_Sample.table);
  EXPECT_EQ(doc["kind"], "table");
  EXPECT_EQ(doc["class"], "samples");
  EXPECT_EQ(doc["length"], 5);
  ASSERT_EQ(doc["fields"].size(), 5u);
  EXPECT_EQ(doc["fields"][1], (Json{{"name", "f"}, {"type", "float"}}));
  ASSERT_EQ(doc["rows"].size(), 5u);
  const Json& row3 = doc["rows"][3];
  EXPECT_EQ(row3["row"], 3);
  EXPECT_EQ(row3["values"]["s"], "he said \"hi\", then\nleft");
  EXPECT_EQ(row3["values"]["i"], 23);
  EXPECT_EQ(row3["values"]["h"], m_Sample.intArray);
  EXPECT_DOUBLE_EQ(row3["values"]["d"].get<double>(), 0.25);
  EXPECT_EQ(row3["values"]["f"].get<double>(), 0.3);  // the float's shortest text, read as a double
  EXPECT_TRUE(doc["rows"][2]["values"]["s"].is_null());
  EXPECT_TRUE(doc["rows"][4]["values"]["f"].is_null());
  EXPECT_EQ(doc["rows"][2]["values"]["d"].get<double>(), 1.0 / 3);
}

TEST_F(Inspect, RowRangeSelectsRowsBothEndsIncluded) {
  EXPECT_EQ(Dump(m_Sample.table, "csv", "1:2"), "row,d,f,h,i,s\n1,0.5,0.1,6,3,one\n2,0.3333333333333333,0.2,6,13,\n");
  EXPECT_EQ(Dump(m_Sample.table, "csv", "4:"), "row,d,f,h,i,s\n4,0.2,,6,33,four\n");
  EXPECT_EQ(Dump(m_Sample.table, "csv", ":0"), "row,d,f,h,i,s\n0,1,0,6,-7,zero\n");
  EXPECT_EQ(Dump(m_Sample.table, "csv", "3"), Dump(m_Sample.table, "csv", "3:3"));
  EXPECT_EQ(Dump(m_Sample.table, "csv", "7:9"), "row,d,f,h,i,s\n");
  EXPECT_EQ(Json::parse(Dump(m_Sample.table, "json", "7:"))["rows"], Json::array());
  EXPECT_EQ(Dump(m_Sample.emptyTable, "csv"), "row,n\n");
}

TEST_F(Inspect, ArraysDumpRowByRow) {
  EXPECT_EQ(Dump(m_Sample.intArray, "csv"), "row,v0,v1\n0,1,2\n1,3,4\n2,5,6\n");
  EXPECT_EQ(Dump(m_Sample.floatArray, "csv", "1:"), "row,v0\n1,1.25\n");
  EXPECT_EQ(Dump(m_Sample.doubleArray, "csv"), "row,v0,v1,v2\n0,1e-300,2.5,-3\n");
  EXPECT_EQ(Dump(m_Sample.stringArray, "csv"), "row,v0,v1\n0,alpha,beta\n1,,\"gamma, delta\"\n");
  const Json doc = Json::parse(Dump(m_Sample.stringArray, "json"));
  EXPECT_EQ(doc["kind"], "string array");
  EXPECT_EQ(doc["values_per_row"], 2);
  EXPECT_EQ(doc["rows"][1], (Json{{"row", 1}, {"values", {"", "gamma, delta"}}}));
  const Json doubles = Json::parse(Dump(m_Sample.doubleArray, "json"));
  EXPECT_EQ(doubles["rows"][0]["values"][0].get<double>(), 1e-300);
}

TEST_F(Inspect, TaggedStreamDumpsRecordByRecord) {
  EXPECT_EQ(Dump(m_Sample.stream, "csv"),
            "record,type,id,value\n"
            "0,int,5,42\n"
            "1,handle,6," + std::to_string(m_Sample.table) + "\n"
            "2,float,7,1.5\n"
            "3,double,8,-0.25\n"
            "4,string,9,pooled text\n"
            "5,fixed string,10,fixed\n");
  const Json doc = Json::parse(Dump(m_Sample.stream, "json", "4:5"));
  EXPECT_EQ(doc["records"], (Json{{{"record", 4}, {"type", "string"}, {"id", 9}, {"value", "pooled text"}},
                                  {{"record", 5}, {"type", "fixed string"}, {"id", 10}, {"value", "fixed"}}}));
}

TEST_F(Inspect, OtherSpacesDumpAsHex) {
  EXPECT_EQ(Dump(m_Sample.space, "text"),
            "offset    hex                                              text\n"
            "00000000  68 65 6c 6c 6f 20 73 70 61 63 65 00 01 ff        hello space...\n");
  const Json doc = Json::parse(Dump(m_Sample.space, "json"));
  EXPECT_EQ(doc["length"], 14);
  EXPECT_EQ(doc["lines"], (Json{{{"offset", 0}, {"hex", "68656c6c6f2073706163650001ff"}}}));
  // The string pool is a space like any other: its marker first.
  EXPECT_EQ(Lines(Dump(1, "text", "0"))[1].substr(0, 21), "00000000  aa ff bb ee");
}

TEST_F(Inspect, ListingADamagedFileListsWhatItCanAndSaysToCheckIt) {
  std::vector<unsigned char> bytes = ReadAll(m_Sample.path);
  RawEntry space = ReadEntry(bytes, m_Sample.space);
  space.location = ReadEntry(bytes, m_Sample.stream).location + 4;  // now overlapping the stream
  WriteEntry(bytes, space);
  const std::string path = m_Dir.File("damaged.odb");
  WriteAll(path, bytes);
  for (const char* command : {"ls", "info"}) {
    const ChildResult result = RunQvtdb({command, path});
    QVT_EXPECT_EXIT(result, 1);
    EXPECT_EQ(result.err, "qvtdb: " + path + ": 1 structural problem; run 'qvtdb check " + path + "' for the list\n");
    EXPECT_NE(result.out, "");
  }
}

}  // namespace
}  // namespace qvt_test
