// qvtdb check as a process: one summary line and status 0 on sound files;
// on damaged ones, made here from a sound sample, a list of problems naming
// the damage, their count, and status 1 — never a crash or a hang. Also the
// corpus of damaged files and seeded random damage.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_ToolSampleDatabase.h"
#include "qvt_TestSupport.h"

namespace qvt_test {
namespace {

constexpr int kTimeoutMs = 60000;

class Check : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Sample = WriteSampleDatabase(m_Dir.File("sample.odb"), false);
    m_Bytes = ReadAll(m_Sample.path);
  }

  // Writes a damaged copy of the sample and checks it: status 1, every
  // expected problem among the lines, the count last.
  void ExpectProblems(const std::function<void(std::vector<unsigned char>&)>& damage,
                      const std::vector<std::string>& expected) {
    std::vector<unsigned char> bytes = m_Bytes;
    damage(bytes);
    const std::string path = m_Dir.File("damaged.odb");
    WriteAll(path, bytes);
    const ChildResult result = RunQvtdb({"check", path}, kTimeoutMs);
    QVT_EXPECT_EXIT(result, 1);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_FALSE(lines.empty());
    const std::size_t problems = lines.size() - 1;
    EXPECT_EQ(lines.back(),
              path + ": " + std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " found");
    for (const std::string& text : expected) {
      bool found = false;
      for (std::size_t i = 0; i + 1 < lines.size(); ++i) found = found || lines[i] == path + ": " + text;
      EXPECT_TRUE(found) << "missing: " << text << "\nin:\n" << result.out;
    }
  }

  std::size_t At(qvt_Handle handle, std::int64_t spaceOffset) const {
    return FileOffsetOf(m_Bytes, handle, spaceOffset);
  }

  ScratchDir m_Dir;
  SampleDatabase m_Sample;
  std::vector<unsigned char> m_Bytes;
};

TEST_F(Check, SoundFilesGetOneSummaryLine) {
  const ChildResult plain = RunQvtdb({"check", m_Sample.path});
  QVT_EXPECT_EXIT(plain, 0);
  EXPECT_EQ(plain.out, m_Sample.path +
                           ": sound plain database, 8 objects (4 arrays, 1 other space, 2 tables, 1 tagged stream), "
                           "16116 bytes, flush count 2\n");
  EXPECT_EQ(plain.err, "");
  const SampleDatabase compressed = WriteSampleDatabase(m_Dir.File("sample.cdb"), true);
  const ChildResult packed = RunQvtdb({"check", compressed.path});
  QVT_EXPECT_EXIT(packed, 0);
  EXPECT_EQ(packed.out, compressed.path +
                            ": sound compressed database, 8 objects (4 arrays, 1 other space, 2 tables, 1 tagged "
                            "stream), 16116 bytes, flush count 2\n");
}

TEST_F(Check, TruncatedFileIsReportedAtEveryLength) {
  for (std::size_t length = 0; length < m_Bytes.size(); length += 997) {
    SCOPED_TRACE(length);
    const std::string expected =
        length < 1024 ? "the file is " + std::to_string(length) + " bytes long, too short for the 1024-byte header"
                      : "the size record says the file is 16116 bytes long, but it is " + std::to_string(length) +
                            " (truncated, extended, or copied in text mode)";
    ExpectProblems([&](std::vector<unsigned char>& b) { b.resize(length); }, {expected});
  }
}

TEST_F(Check, ExtentsPastTheEndOfATruncatedFileAreNamed) {
  const RawEntry last = ReadEntry(m_Bytes, m_Sample.space);
  ExpectProblems([&](std::vector<unsigned char>& b) { b.resize(static_cast<std::size_t>(last.location) + 2); },
                 {"handle 11: its extent at offsets " + std::to_string(last.location) + " to " +
                  std::to_string(last.location + last.allocation - 1) + " runs past the end of the file (" +
                  std::to_string(last.location + 2) + " bytes)"});
}

TEST_F(Check, LoopingExtentChainIsReportedCorrupt) {
  const std::vector<qvt_Handle> chain = ExtentChain(m_Bytes, m_Sample.table);
  ASSERT_EQ(chain.size(), 2u);
  // The last extent leads back to itself...
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        RawEntry e = ReadEntry(b, chain[1]);
        e.next = chain[1];
        WriteEntry(b, e);
      },
      {"the extent chain of handle 4 loops back to handle " + std::to_string(chain[1])});
  // ... or to the head, so that no extent starts the space any more.
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        RawEntry e = ReadEntry(b, chain[1]);
        e.next = chain[0];
        WriteEntry(b, e);
      },
      {"handles 4, " + std::to_string(chain[1]) + " are extents that no space starts: their chain loops without a head"});
}

TEST_F(Check, ExtentSharedByTwoSpacesIsReported) {
  const std::vector<qvt_Handle> chain = ExtentChain(m_Bytes, m_Sample.table);
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        RawEntry e = ReadEntry(b, m_Sample.space);
        e.next = chain[1];
        WriteEntry(b, e);
      },
      {"handle " + std::to_string(chain[1]) + " is an extent of both handle 4 and handle 11"});
}

TEST_F(Check, OverlappingExtentsAreReported) {
  const RawEntry stream = ReadEntry(m_Bytes, m_Sample.stream);
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        RawEntry e = ReadEntry(b, m_Sample.space);
        e.location = stream.location + 4;
        WriteEntry(b, e);
      },
      {"the extent of handle 11 (offsets " + std::to_string(stream.location + 4) + " to " +
       std::to_string(stream.location + 4 + ReadEntry(m_Bytes, m_Sample.space).allocation - 1) +
       ") overlaps the extent of handle 10"});
  // An extent placed over linkage block 0.
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        RawEntry e = ReadEntry(b, m_Sample.space);
        e.location = 2000;
        WriteEntry(b, e);
      },
      {"the extent of handle 11 (offsets 2000 to " + std::to_string(2000 + ReadEntry(m_Bytes, m_Sample.space).allocation - 1) +
       ") overlaps linkage block 0"});
}

TEST_F(Check, DamagedLinkageBlockChainIsReported) {
  ExpectProblems([&](std::vector<unsigned char>& b) { WriteEntry(b, RawEntry{1024, 0, 0, 1024, 512}); },
                 {"the chain of linkage blocks loops: linkage block 1 would be the block at offset 1024 again"});
  ExpectProblems([&](std::vector<unsigned char>& b) { WriteEntry(b, RawEntry{1024, 0, 0, 1000000000, 512}); },
                 {"linkage block 1 at offset 1000000000 lies outside the file (16116 bytes)"});
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        // Not a whole file quantity: a negative location.
        RawEntry e = ReadEntry(b, m_Sample.space);
        e.location = -4096;
        WriteEntry(b, e);
      },
      {"handle 11: its linkage entry holds a size or offset that is not a whole file quantity"});
}

TEST_F(Check, BadStringPoolRecordIsReported) {
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(1, 4), static_cast<std::uint32_t>(-5)); },
                 {"the string pool record at offset 4 has a negative length (-5)"});
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(1, 4), 1000000); },
                 {"the string pool record at offset 4 (1000000 bytes) runs past the end of the pool (184 bytes)"});
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(1, 0), 0x12345678); },
                 {"the string pool (object 1) does not start with its marker"});
}

TEST_F(Check, BadMetadataRecordIsReported) {
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(3, 4), 7); },
                 {"the metadata record at offset 4 has a length of 7, which no class record has"});
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(3, 4 + 12), 5); },
                 {"field 0 of class \"samples\" has the type code 5, which is not a field type"});
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        // The class name's reference (a double) now names offset 6, inside a record.
        PutBE32(b, At(3, 8), 0x40180000);
        PutBE32(b, At(3, 12), 0);
      },
      {"the metadata record at offset 4 names its class by a reference that starts no string of the string pool"});
}

TEST_F(Check, BadTableHeaderIsReported) {
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(m_Sample.table, 8), 5); },
                 {"object 4 is a table whose class record would be at offset 5 of the metadata pool, where no record "
                  "starts"});
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        RawEntry e = ReadEntry(b, m_Sample.emptyTable);
        e.length = 8;
        WriteEntry(b, e);
      },
      {"object 5 is a table of 8 bytes, too short for its header"});
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        const std::vector<qvt_Handle> chain = ExtentChain(b, m_Sample.table);
        RawEntry e = ReadEntry(b, chain.back());
        e.length -= 1;
        WriteEntry(b, e);
      },
      {"object 4 is a table of class \"samples\" whose 179 bytes of rows are not a whole number of 36-byte rows"});
}

TEST_F(Check, BadArrayAndStreamHeadersAreReported) {
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(m_Sample.intArray, 8), 5); },
                 {"object 6 is an array whose element type code 5 is not one of int, float, double and string"});
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(m_Sample.doubleArray, 12), 0); },
                 {"object 8 is an array with 0 values per row"});
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(m_Sample.stream, 8), 5); },
                 {"object 10 is a tagged stream whose record 0 at offset 8 has the type code 5, which no record has"});
  ExpectProblems([&](std::vector<unsigned char>& b) { PutBE32(b, At(m_Sample.stream, 8 + 12 + 16 + 12 + 16 + 16 + 8), 0x7ffffff0); },
                 {"object 10 is a tagged stream whose record 5 at offset 80 runs past the end of the stream (100 bytes)"});
}

TEST_F(Check, RowThatNamesAMissingStringIsReportedByTheLibrary) {
  // Row 0's string field: the reference at row offset 4 + 8 + 4 + 8 + 4.
  ExpectProblems(
      [&](std::vector<unsigned char>& b) {
        PutBE32(b, At(m_Sample.table, 12 + 28), 0x40180000);  // the double 6.0
        PutBE32(b, At(m_Sample.table, 12 + 32), 0);
      },
      {"object 4 cannot be read to its end: qvt_StringManagerFile::String - String is not available."});
}

TEST_F(Check, DamagedCompressedFileIsReportedWithoutCrashing) {
  const SampleDatabase compressed = WriteSampleDatabase(m_Dir.File("sample.cdb"), true);
  const std::vector<unsigned char> sound = ReadAll(compressed.path);
  const std::string path = m_Dir.File("damaged.cdb");
  // The container's version byte, then the first compressed segment.
  struct Case {
    std::size_t offset;
    std::string problem;
  };
  for (const Case& c : {Case{8, ""}, Case{4096 + 10, "***ERROR: CAE database is corrupt."}}) {
    SCOPED_TRACE(c.offset);
    std::vector<unsigned char> bytes = sound;
    for (std::size_t i = c.offset; i < c.offset + 16; ++i) bytes.at(i) ^= 0x5a;
    WriteAll(path, bytes);
    const ChildResult result = RunQvtdb({"check", path}, kTimeoutMs);
    QVT_EXPECT_EXIT(result, 1);
    EXPECT_NE(result.out.find(path + ": 1 problem found\n"), std::string::npos) << result.out;
    if (!c.problem.empty()) {
      EXPECT_EQ(Lines(result.out).front(), path + ": " + c.problem);
    }
  }
  // Anywhere else, seeded: the damage may hit unused bytes (status 0), but
  // never crashes or hangs.
  const unsigned seed = 77;
  std::mt19937 random(seed);
  for (int run = 0; run < 30; ++run) {
    std::vector<unsigned char> bytes = sound;
    for (int i = 0; i < 3; ++i) bytes[random() % bytes.size()] ^= static_cast<unsigned char>(1 + random() % 255);
    WriteAll(path, bytes);
    const ChildResult result = RunQvtdb({"check", path}, kTimeoutMs);
    ASSERT_TRUE(result.exited && !result.timedOut && (result.exitCode == 0 || result.exitCode == 1))
        << "seed " << seed << ", run " << run << ": signal " << result.signal << " status " << result.exitCode
        << "\n" << result.out << result.err;
  }
}

// Seeded random damage anywhere in the file: every run ends by itself with
// status 0 (the damage hit unused bytes) or 1, never by a signal or a hang.
TEST_F(Check, RandomDamageNeverCrashesOrHangs) {
  const unsigned seed = 20240607;
  std::mt19937 random(seed);
  const std::string path = m_Dir.File("random.odb");
  for (int run = 0; run < 60; ++run) {
    std::vector<unsigned char> bytes = m_Bytes;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] ^= static_cast<unsigned char>(1 + random() % 255);
    WriteAll(path, bytes);
    const ChildResult result = RunQvtdb({"check", path}, kTimeoutMs);
    ASSERT_TRUE(result.exited && !result.timedOut && (result.exitCode == 0 || result.exitCode == 1))
        << "seed " << seed << ", run " << run << ": signal " << result.signal << " status " << result.exitCode
        << "\n" << result.out << result.err;
  }
}

// tests/corpus holds a few damaged files; its README has one line per file:
// "<file>: <what is damaged> => <a line that check must print>".
TEST(CheckCorpus, EveryDamagedFileGetsItsAnswer) {
  const std::string dir = QVT_TEST_CORPUS_DIR;
  std::ifstream readme(dir + "/README.md");
  ASSERT_TRUE(readme.good());
  int files = 0;
  for (std::string line; std::getline(readme, line);) {
    const std::size_t colon = line.find(": ");
    const std::size_t arrow = line.find(" => ");
    if (line.rfind("- ", 0) != 0 || colon == std::string::npos || arrow == std::string::npos) continue;
    const std::string name = line.substr(2, colon - 2);
    const std::string expected = line.substr(arrow + 4);
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name;
    const ChildResult result = RunQvtdb({"check", path}, kTimeoutMs);
    QVT_EXPECT_EXIT(result, 1);
    EXPECT_NE(result.out.find(path + ": " + expected + "\n"), std::string::npos) << result.out;
    ++files;
  }
  EXPECT_GE(files, 3);
}

}  // namespace
}  // namespace qvt_test
