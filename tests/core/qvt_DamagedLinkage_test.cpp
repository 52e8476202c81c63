// Damaged linkages and headers (tests/corpus, loops made in memory, the
// decoders qvtdb check uses) end in a clear exception or a sound answer.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_Corpus.h"
#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_DatabaseHeader.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_Linkage.h"
#include "qvt_Problems.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

using namespace qvt_test;

namespace {

using DamagedLinkageTest = DatabaseFixture;

// Each damage is found at Open, at a space's open or at its read, and a space
// it does not touch reads whole; each file would fail an earlier check if the
// header's checks ran out of order.
TEST(DamagedDatabaseCorpusTest, EachDamageIsFoundWhereItIsMet) {
  const std::vector<CorpusFile> files = CorpusFiles(".odb");
  EXPECT_GE(files.size(), 28u);
  for (const CorpusFile& damaged : files) {
    const bool typed = damaged.answer.rfind("open as ", 0) == 0;
    qvt_DatabaseReprFile db;
    try {
      db.Open(qvt_File::Open(damaged.path, 0, true), typed ? damaged.answer.substr(8, 4) : "");
    } catch (const nex_Exception& e) {
      EXPECT_EQ((typed ? damaged.answer.substr(0, 14) : "open: ") + e.AsString(), damaged.answer)
          << damaged.path;
      continue;
    }
    std::string answer = "opens";
    for (const qvt_Handle handle : {4u, 5u}) {
      if (!db.IsValidHandle(handle)) continue;
      std::string outcome;  // the byte count, or the refusal of the open or (after "reading: ") the read
      try {
        std::unique_ptr<qvt_SpaceRepr> space(db.Space(handle, -1));
        std::vector<char> bytes(static_cast<std::size_t>(space->Length()));
        outcome = "reading: ";
        outcome = std::to_string(space->Read(bytes.data(), static_cast<int>(bytes.size()))) + " bytes";
      } catch (const nex_Exception& e) {
        outcome += e.AsString();
      }
      answer += " | space " + std::to_string(handle) + ": " + outcome;
    }
    EXPECT_EQ(answer, damaged.answer) << damaged.path;
  }
}

// Space 4's second extent pointed back at its first: long walks stop at their
// step count; after a flush the whole chain is walked again before any part.
TEST_F(DamagedLinkageTest, LoopMadeInMemoryStopsEveryWalk) {
  for (const bool flushed : {false, true}) {
    SCOPED_TRACE(flushed ? "after a flush" : "long walks");
    const std::string name = flushed ? "flushed.odb" : "test.odb";
    auto db = Create(name);
    {  // three extents each
      std::unique_ptr<qvt_SpaceRepr> four(db->Space(-1)), five(db->Space(-1));
      for (int i = 0; i < 3; ++i) {
        four->WriteInt(100 + i);
        five->WriteInt(200 + i);
      }
    }
    std::unique_ptr<qvt_SpaceRepr> a(db->Space(4, -1));
    const qvt_Handle second = db->LinkageEntry(4).m_Next;
    ASSERT_NE(second, 0u);
    db->LinkageEntry(second).m_Next = 4;
    std::vector<char> bytes(4096);
    const std::string corrupt =
        "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Path(name);
    if (flushed) {
      db->Flush();
      QVT_EXPECT_THROW_TEXT(a->Seek(5), nex_TextException, corrupt);
      QVT_EXPECT_THROW_TEXT(a->Length(), nex_TextException, corrupt);
      QVT_EXPECT_THROW_TEXT(a->Write(bytes.data(), 4), nex_TextException, corrupt);
      QVT_EXPECT_THROW_TEXT(a->Read(bytes.data(), 4), nex_TextException, corrupt);
    } else {
      QVT_EXPECT_THROW_TEXT(a->Seek(1 << 20), nex_TextException, corrupt);
      QVT_EXPECT_THROW_TEXT(a->Extend(64), nex_TextException, corrupt);
      a->Seek(0);
      QVT_EXPECT_THROW_TEXT(a->Read(bytes.data(), 4096), nex_TextException, corrupt);
      a->Seek(0);
      QVT_EXPECT_THROW_TEXT(a->Write(bytes.data(), 4096), nex_TextException, corrupt);
      QVT_EXPECT_THROW_TEXT(a->Truncate(0), nex_TextException, corrupt);
    }
    db->LinkageEntry(second).m_Next = 0;  // undo, so that closing is sound
  }
}

// Runs the decoders in the order opening does, keeping every problem.
qvt_Problems Decode(const std::string& path) {
  qvt_Problems problems;
  const qvt_File file = qvt_File::Open(path, 0, true);
  qvt_FileRepr& f = *file.Repr();
  unsigned char header[qvt_FileLayout::kHeaderBytes] = {};
  f.Seek(0);
  const int got = f.Read(reinterpret_cast<char*>(header), qvt_FileLayout::kHeaderBytes);
  if (!qvt_DatabaseHeader::Decode(header, got, f.FileName(), "", &problems).complete) return problems;
  f.SizeRecordProblems(qvt_FileLayout::kSizeRecordOffset, &problems);
  qvt_LinkageBlocks blocks;
  qvt_ReadLinkage(f, f.FileLength(), &blocks, &problems);
  return problems;
}

// Each damaged sample database (".ldb") lists its damage, or nothing, and
// opening raises the first problem's refusal, or opens.
TEST(LayoutProblemsTest, ListedWithItsTextAndOpeningRaisesTheFirstRefusal) {
  const std::vector<CorpusFile> files = CorpusFiles(".ldb");
  EXPECT_GE(files.size(), 8u);
  for (const CorpusFile& damaged : files) {
    SCOPED_TRACE(damaged.path);
    const std::size_t bar = damaged.answer.rfind(" | ");  // "<problem, or nothing> | <refused or opens>"
    const std::string text = damaged.answer.substr(0, bar);
    const qvt_Problems problems = Decode(damaged.path);
    std::vector<std::string> texts;
    std::string firstRefusal;
    for (const qvt_Problem& problem : problems.List()) {
      texts.push_back(problem.text);
      if (firstRefusal.empty()) firstRefusal = problem.refusal;
    }
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), text == "nothing" ? 0 : 1)
        << ::testing::PrintToString(texts);
    EXPECT_EQ(texts.empty(), text == "nothing");
    EXPECT_EQ(problems.Refused() ? "refused" : "opens", damaged.answer.substr(bar + 3));
    std::string raised;
    try {
      qvt_Database db = qvt_Database::Open(qvt_File::Open(damaged.path, 0, true), "");
      EXPECT_EQ(db.HandleType(4), qvt_TypeTable);
      QVT_EXPECT_THROW_TEXT(db.Space(500, -1), nex_TextException, kInvalidDatabase);
    } catch (const std::exception& e) {
      raised = e.what();
    }
    EXPECT_EQ(raised, firstRefusal);
  }
}

}  // namespace
