// The library's decoders of the header, the size record, the linkage and
// the pools' markers, in a list that keeps every problem: each kind of
// damage is listed with the text qvtdb check prints, and the first problem
// the list marks as refused is exactly what opening the file raises.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_DatabaseHeader.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_Linkage.h"
#include "qvt_Problems.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

using namespace qvt_test;

namespace {

using Bytes = std::vector<unsigned char>;

// Runs the decoders in the order opening does, keeping every problem.
qvt_Problems Decode(const std::string& path, const Bytes& bytes) {
  qvt_Problems problems;
  const qvt_File file = qvt_File::Open(path, 0, true);
  qvt_FileRepr& f = *file.Repr();
  unsigned char header[qvt_FileLayout::kHeaderBytes] = {};
  f.Seek(0);
  const int got = f.Read(reinterpret_cast<char*>(header), qvt_FileLayout::kHeaderBytes);
  if (!qvt_DatabaseHeader::Decode(header, got, f.FileName(), "", &problems).complete) return problems;
  f.SizeRecordProblems(qvt_FileLayout::kSizeRecordOffset, &problems);
  qvt_LinkageBlocks blocks;
  if (!qvt_ReadLinkage(f, f.FileLength(), &blocks, &problems)) return problems;
  for (const qvt_Handle pool : {qvt_StringPoolHandle, qvt_MetadataPoolHandle}) {
    std::int64_t length = 0;
    for (const qvt_Handle extent : ExtentChain(bytes, pool)) length += ReadEntry(bytes, extent).length;
    qvt_DatabaseReprFile::PoolProblems(
        pool, length, static_cast<int>(BE32(bytes, FileOffsetOf(bytes, pool, 0))), &problems);
  }
  return problems;
}

struct Case {
  const char* name;
  std::function<void(Bytes&, const SampleDatabase&)> damage;
  std::string text;  // a problem that must be listed
  bool refused;      // whether opening fails
};

const Case kCases[] = {
    {"Signature", [](Bytes& b, const SampleDatabase&) { b[0] = 'X'; },
     "the header does not start with the signature \"WOXR\"", true},
    {"Version", [](Bytes& b, const SampleDatabase&) { PutBE32(b, 8, 10); },
     "the header's version is 10, below the oldest readable, 11", true},
    {"ReservedWord", [](Bytes& b, const SampleDatabase&) { PutBE32(b, 496, 7); },
     "the header's reserved word at offset 496 holds 7 instead of 0", false},
    {"SizeRecord",
     [](Bytes& b, const SampleDatabase&) {
       PutBE32(b, 500, 1u << 24);  // a marker of neither kind, then no size
       PutBE32(b, 504, 0);
       PutBE32(b, 508, 0);
     },
     "the size record at offset 500 has an unknown marker", true},
    {"ExtentInHeader",
     [](Bytes& b, const SampleDatabase& s) {
       RawEntry e = ReadEntry(b, s.space);
       e.location = 1000;
       WriteEntry(b, e);
     },
     "handle 11: its extent is placed at offset 1000, inside the header", true},
    {"BlockOverlapsBlock",
     [](Bytes& b, const SampleDatabase&) {
       WriteEntry(b, RawEntry{1024, 0, 0, 1500, 512});
     },
     "linkage block 1 at offset 1500 overlaps linkage block 0", true},
    {"StringPoolMarker", [](Bytes& b, const SampleDatabase&) { PutBE32(b, FileOffsetOf(b, 1, 0), 7); },
     "the string pool (object 1) does not start with its marker", true},
};

class LayoutProblemsTest : public ::testing::TestWithParam<Case> {};

TEST_P(LayoutProblemsTest, ListedWithItsTextAndOpeningRaisesTheFirstRefusal) {
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("sample.odb"), false);
  Bytes bytes = ReadAll(sample.path);
  GetParam().damage(bytes, sample);
  const std::string path = dir.File("damaged.odb");
  WriteAll(path, bytes);

  const qvt_Problems problems = Decode(path, bytes);
  std::vector<std::string> texts;
  std::string firstRefusal;
  for (const qvt_Problem& problem : problems.List()) {
    texts.push_back(problem.text);
    if (firstRefusal.empty()) firstRefusal = problem.refusal;
  }
  EXPECT_NE(std::find(texts.begin(), texts.end(), GetParam().text), texts.end())
      << ::testing::PrintToString(texts);
  EXPECT_EQ(problems.Refused(), GetParam().refused);

  std::string raised;
  try {
    qvt_Database::Open(qvt_File::Open(path, 0, true), "");
  } catch (const std::exception& e) {
    raised = e.what();
  }
  EXPECT_EQ(raised, firstRefusal);
}

// A slot whose location is 0 is free whatever its other words hold: such a
// file opens and reads as before, and the slot is no object.
TEST(FreeLinkageSlot, StrayWordsLeaveItFreeAndTheFileSound) {
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("sample.odb"), false);
  Bytes bytes = ReadAll(sample.path);
  RawEntry e = ReadEntry(bytes, 500);  // far beyond the handles the sample uses
  e.allocation = 4096;
  e.length = 100;
  e.next = sample.table;
  WriteEntry(bytes, e);
  WriteAll(sample.path, bytes);
  EXPECT_FALSE(Decode(sample.path, bytes).Refused());
  qvt_Database db = qvt_Database::Open(qvt_File::Open(sample.path, 0, true), "");
  EXPECT_EQ(db.HandleType(sample.table), qvt_TypeTable);
  QVT_EXPECT_THROW_TEXT(
      db.Space(500, -1), nex_TextException,
      "***ERROR: Database is not valid. This may indicate that the database has been corrupted.");
}

INSTANTIATE_TEST_SUITE_P(Damage, LayoutProblemsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
