// qvtdb check as a process on damaged files, made here from a sound sample:
// a list of problems naming the damage, their count, and status 1, never a
// crash or a hang; ls and info list what they can and point to check. Also
// the corpus of damaged files and seeded random damage. (Sound files: the
// conversion test.)
#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

using Bytes = std::vector<unsigned char>;
using Damage = std::function<void(Bytes&)>;

class Check : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Sample = WriteSampleDatabase(m_Dir.File("sample.odb"), false);
    m_Bytes = ReadAll(m_Sample.path);
  }

  // Checks a damaged file: status 1, the expected problem among the lines,
  // the count last.
  static void ExpectProblem(const std::string& path, const std::string& expected) {
    SCOPED_TRACE(expected);
    const ChildResult result = RunQvtdb({"check", path});
    EXPECT_TRUE(Ended(result, 1));
    EXPECT_EQ(result.err, "");
    std::vector<std::string> lines = Lines(result.out);
    ASSERT_FALSE(lines.empty());
    const std::size_t problems = lines.size() - 1;
    EXPECT_EQ(lines.back(),
              path + ": " + std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " found");
    lines.pop_back();
    EXPECT_NE(std::find(lines.begin(), lines.end(), path + ": " + expected), lines.end()) << result.out;
  }
  // ... a damaged copy of the sample.
  void ExpectProblem(const Damage& damage, const std::string& expected) {
    Bytes bytes = m_Bytes;
    damage(bytes);
    WriteAll(m_Dir.File("damaged.odb"), bytes);
    ExpectProblem(m_Dir.File("damaged.odb"), expected);
  }

  std::size_t At(qvt_Handle handle, std::int64_t spaceOffset) const {
    return FileOffsetOf(m_Bytes, handle, spaceOffset);
  }
  static Damage Poke(std::size_t at, std::uint32_t value, std::size_t at2 = 0, std::uint32_t value2 = 0) {
    return [=](Bytes& b) {
      PutBE32(b, at, value);
      if (at2 != 0) PutBE32(b, at2, value2);
    };
  }
  // One field of the linkage entry of handle set to value.
  template <class T>
  static Damage Set(qvt_Handle handle, T RawEntry::*field, std::int64_t value) {
    return [=](Bytes& b) {
      RawEntry e = ReadEntry(b, handle);
      e.*field = static_cast<T>(value);
      WriteEntry(b, e);
    };
  }
  std::string Extent(qvt_Handle handle, std::int64_t location) const {
    return "the extent of handle " + std::to_string(handle) + " (offsets " + std::to_string(location) +
           " to " + std::to_string(location + ReadEntry(m_Bytes, handle).allocation - 1) + ")";
  }

  ScratchDir m_Dir;
  SampleDatabase m_Sample;
  Bytes m_Bytes;
};

TEST_F(Check, EachDamageIsNamed) {
  // tests/corpus holds a few damaged files; its README has one line per
  // file: "- <file>: <what is damaged> => <a line that check must print>".
  std::ifstream readme(std::string(QVT_TEST_CORPUS_DIR) + "/README.md");
  int files = 0;
  for (std::string line; std::getline(readme, line);) {
    const std::size_t colon = line.find(": ");
    const std::size_t arrow = line.find(" => ");
    if (line.rfind("- ", 0) != 0 || colon == std::string::npos || arrow == std::string::npos) continue;
    ExpectProblem(QVT_TEST_CORPUS_DIR "/" + line.substr(2, colon - 2), line.substr(arrow + 4));
    ++files;
  }
  EXPECT_GE(files, 3);
  for (const std::size_t length : {997, 1994, 15952}) {  // 0 bytes: the corpus
    ExpectProblem(
        [&](Bytes& b) { b.resize(length); },
        length < 1024
            ? "the file is " + std::to_string(length) + " bytes long, too short for the 1024-byte header"
            : "the size record says the file is 16116 bytes long, but it is " + std::to_string(length) +
                  " (truncated, extended, or copied in text mode)");
  }
  const std::vector<qvt_Handle> chain = ExtentChain(m_Bytes, m_Sample.table);
  ASSERT_EQ(chain.size(), 2u);
  const std::string last = std::to_string(chain[1]);
  const std::int64_t end = ReadEntry(m_Bytes, m_Sample.space).location;
  const std::int64_t overStream = ReadEntry(m_Bytes, m_Sample.stream).location + 4;
  const std::vector<std::pair<Damage, std::string>> cases = {
      {[&](Bytes& b) { b.resize(static_cast<std::size_t>(end) + 2); },
       "handle 11: its extent at offsets " + std::to_string(end) + " to " +
           std::to_string(end + ReadEntry(m_Bytes, m_Sample.space).allocation - 1) +
           " runs past the end of the file (" + std::to_string(end + 2) + " bytes)"},
      {Set(chain[1], &RawEntry::next, chain[1]), "the extent chain of handle 4 loops back to handle " + last},
      // ... or to the head, so that no extent starts the space any more.
      {Set(chain[1], &RawEntry::next, chain[0]),
       "handles 4, " + last + " are extents that no space starts: their chain loops without a head"},
      {Set(m_Sample.space, &RawEntry::next, chain[1]),
       "handle " + last + " is an extent of both handle 4 and handle 11"},
      {Set(m_Sample.space, &RawEntry::location, 2000),
       Extent(m_Sample.space, 2000) + " overlaps linkage block 0"},
      {[](Bytes& b) {
         WriteEntry(b, RawEntry{1024, 0, 0, 1024, 512});
       },
       "the chain of linkage blocks loops: linkage block 1 would be the block at offset 1024 again"},
      {Set(m_Sample.space, &RawEntry::location, -4096),
       "handle 11: its linkage entry holds a size or offset that is not a whole file quantity"},
      {Poke(At(1, 4), -5u), "the string pool record at offset 4 has a negative length (-5)"},
      {Poke(At(1, 4), 1000000),
       "the string pool record at offset 4 (1000000 bytes) runs past the end of the pool (184 bytes)"},
      {Poke(At(1, 0), 0x12345678), "the string pool (object 1) does not start with its marker"},
      {Poke(At(3, 4), 7), "the metadata record at offset 4 has a length of 7, which no class record has"},
      {Poke(At(3, 16), 5), "field 0 of class \"samples\" has the type code 5, which is not a field type"},
      // The class name's reference (a double) now names offset 6, inside a record.
      {Poke(At(3, 8), 0x40180000, At(3, 12), 0),
       "the metadata record at offset 4 names its class by a reference that starts no string of the string "
       "pool"},
      {Poke(At(m_Sample.table, 8), 5),
       "object 4 is a table whose class record would be at offset 5 of the metadata pool, where no record "
       "starts"},
      {Set(m_Sample.emptyTable, &RawEntry::length, 8),
       "object 5 is a table of 8 bytes, too short for its header"},
      {Set(chain[1], &RawEntry::length, ReadEntry(m_Bytes, chain[1]).length - 1),
       "object 4 is a table of class \"samples\" whose 179 bytes of rows are not a whole number of 36-byte "
       "rows"},
      // Row 0's string field: the reference at row offset 4 + 8 + 4 + 8 + 4, now the double 6.0.
      {Poke(At(m_Sample.table, 40), 0x40180000, At(m_Sample.table, 44), 0),
       "object 4 cannot be read to its end: qvt_StringManagerFile::String - String is not available."},
      {Poke(At(m_Sample.intArray, 8), 5),
       "object 6 is an array whose element type code 5 is not one of int, float, double and string"},
      {Poke(At(m_Sample.doubleArray, 12), 0), "object 8 is an array with 0 values per row"},
      {Poke(At(m_Sample.stream, 8), 5),
       "object 10 is a tagged stream whose record 0 at offset 8 has the type code 5, which no record has"},
      {Poke(At(m_Sample.stream, 88), 0x7ffffff0),
       "object 10 is a tagged stream whose record 5 at offset 80 runs past the end of the stream (100 "
       "bytes)"},
      // Last, as the damaged file that ls and info are given below.
      {Set(m_Sample.space, &RawEntry::location, overStream),
       Extent(m_Sample.space, overStream) + " overlaps the extent of handle 10"},
  };
  for (const auto& c : cases) ExpectProblem(c.first, c.second);
  const std::string path = m_Dir.File("damaged.odb");
  for (const char* command : {"ls", "info"}) {
    const ChildResult result = RunQvtdb({command, path});
    EXPECT_TRUE(Ended(result, 1));
    EXPECT_EQ(result.err,
              "qvtdb: " + path + ": 1 structural problem; run 'qvtdb check " + path + "' for the list\n");
    EXPECT_NE(result.out, "");
  }
}

// Seeded random damage anywhere in a plain and a compressed file, and the
// compressed container's version and first segment damaged: every run ends
// by itself with status 0 (the damage hit unused bytes) or 1, never by a
// signal or a hang.
TEST_F(Check, DamageAnywhereNeverCrashesOrHangs) {
  const Bytes packed = ReadAll(WriteSampleDatabase(m_Dir.File("sample.cdb"), true).path);
  const std::string path = m_Dir.File("damaged.cdb");
  for (const std::size_t offset : {8, 4096 + 10}) {
    Bytes bytes = packed;
    for (std::size_t i = offset; i < offset + 16; ++i) bytes.at(i) ^= 0x5a;
    WriteAll(path, bytes);
    const ChildResult result = RunQvtdb({"check", path});
    EXPECT_TRUE(Ended(result, 1));
    EXPECT_EQ(Lines(result.out).back(), path + ": 1 problem found");
    if (offset > 8) {
      EXPECT_EQ(Lines(result.out).front(), path + ": ***ERROR: CAE database is corrupt.");
    }
  }
  const unsigned seed = 20240607;
  std::mt19937 random(seed);
  for (int run = 0; run < 75; ++run) {
    Bytes bytes = run % 3 == 2 ? packed : m_Bytes;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i)
      bytes[random() % bytes.size()] ^= static_cast<unsigned char>(1 + random() % 255);
    WriteAll(path, bytes);
    const ChildResult result = RunQvtdb({"check", path});
    ASSERT_TRUE(result.exited && !result.timedOut && (result.exitCode == 0 || result.exitCode == 1))
        << "seed " << seed << ", run " << run << ": signal " << result.signal << " status " << result.exitCode
        << "\n"
        << result.out << result.err;
  }
}

}  // namespace
}  // namespace qvt_test
