// The database file: header bytes, flush counts, Open's checks in order, what
// failed opens and creates leave behind; damaged files (tests/corpus), loops made
// in memory and the decoders qvtdb check uses end in a clear exception or a sound answer.
#include "qvt_DatabaseReprFile.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nex_Exception.h"
#include "qvt_Corpus.h"
#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_DatabaseHeader.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_FileReprLocal.h"
#include "qvt_Linkage.h"
#include "qvt_Problems.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kPools = 1024 + 14336;  // the first extent, behind linkage block 0

std::string Text(const Bytes& bytes, std::size_t offset, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, count);
}

// A reader's file that runs step once, before its countdown-th read.
struct InterleavedFile : qvt_FileReprLocal {
  explicit InterleavedFile(const std::string& path) : qvt_FileReprLocal(path, 0, true) {}
  int Read(char* buffer, int count) override {
    if (step && --countdown == 0) std::exchange(step, nullptr)();
    return qvt_FileReprLocal::Read(buffer, count);
  }
  int countdown = 0;
  std::function<void()> step;
};

using DatabaseHeaderTest = DatabaseFixture;
using DamagedLinkageTest = DatabaseFixture;

// The header through create, flush and close (the batch tests pin the rest); a
// reader's flush writes nothing, an update's close counts.
TEST_F(DatabaseHeaderTest, HeaderAndFlushCountsByteByByte) {
  auto db = Create("test.odb", "TEST", "results of run 7", 1234567);
  Bytes b = ReadAll(Path());
  ASSERT_GE(b.size(), 1024u);
  std::string header =
      "WOXRTEST" + std::string("\0\0\0\x0c", 4) + "results of run 7" + std::string(996, '\0');
  header.replace(516, 4, std::string("\0\x12\xD6\x87", 4));  // the creation time; flush count 0 at 512
  EXPECT_EQ(Text(b, 0, 1024), header);
  db->Flush();
  EXPECT_EQ(db->GetFlushCount(), 1);
  b = ReadAll(Path());
  EXPECT_EQ(BE32(b, 512), 1u);
  db.reset();  // the close flushes again and trims to the logical length
  b = ReadAll(Path());
  EXPECT_EQ(
      (std::vector<double>{double(BE32(b, 512)), double(b.size()), double(BE32(b, 500)), BEDouble(b, 504)}),
      (std::vector<double>{2, kPools + 8, 0, kPools + 8}));
  {
    auto reader = Open();
    reader->Flush();
    EXPECT_EQ(reader->GetFlushCount(), 2);
    EXPECT_FALSE(reader->Snap());
    EXPECT_THROW(reader->SetCreationTime(1), qvt_FileReadOnlyExc);
    EXPECT_EQ(ReadAll(Path()), b);
  }
  {
    auto writer = Open("test.odb", false);
    writer->SetCreationTime(4242);
    EXPECT_FALSE(writer->Snap());  // a writer never snaps
  }
  b = ReadAll(Path());
  EXPECT_EQ((std::vector<std::uint32_t>{BE32(b, 512), BE32(b, 516)}), (std::vector<std::uint32_t>{3, 4242}));
}

// Type codes are cut or padded to four; an empty code asked for matches any.
TEST_F(DatabaseHeaderTest, TypeCodeRules) {
  const auto wrongMagic = [this](const std::string& code, const std::string& name) {
    QVT_EXPECT_THROW_TEXT(Open(name, true, code), nex_TextException,
                          "***ERROR: Incorrect magic number in file: \"" + Path(name) + "\"  .");
  };
  for (const std::string code : {"AB", "ABCDEF", ""}) {
    Create(code + ".odb", code).reset();
    EXPECT_EQ(Text(ReadAll(Path(code + ".odb")), 0, 8), "WOXR" + (code + std::string(4, '\0')).substr(0, 4));
  }
  for (const std::string code : {"AB", ""}) EXPECT_NO_THROW(Open("AB.odb", true, code));
  for (const std::string code : {"ABC", "A", "XB"}) wrongMagic(code, "AB.odb");
  for (const std::string code : {"ABCDEF", "ABCDXY"}) EXPECT_NO_THROW(Open("ABCDEF.odb", true, code));
  wrongMagic("ABC", "ABCDEF.odb");
  WriteAll(Path("other.bin"), {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(qvt_DatabaseReprFile::IsMagic(*qvt_File::Open(Path("other.bin"), 0, true).Repr(), ""));
}

// Version 11 has no creation time; failed opens and creates write nothing;
// every shortened file (in strides, then byte by byte through the header) fails.
TEST_F(DatabaseHeaderTest, FailedOpensAndCreatesWriteNothingAndShortFilesFail) {
  EXPECT_EQ(qvt_DatabaseReprFile::GetCreationTime(
                *qvt_File::Open(QVT_TEST_CORPUS_DIR "/header-version-11.odb", 0, true).Repr()),
            0);
  Create()->StringPool().StringOffset("abc");
  const Bytes good = ReadAll(Path());
  EXPECT_THROW(qvt_DatabaseReprFile().Create(qvt_File::Open(Path(), 0, true), "X", "", 0), nex_Exception);
  QVT_EXPECT_THROW_TEXT(qvt_DatabaseReprFile().Create(qvt_File::Open(Path(), 1, false), "X", "", 0),
                        nex_TextException,
                        "***ERROR: A database can only be created in an empty file: \"" + Path() + "\".");
  EXPECT_EQ(ReadAll(Path()), good);
  QVT_EXPECT_THROW_TEXT(qvt_DatabaseReprFile().Open(qvt_File(), ""), nex_AssertException,
                        "file.Repr() != nullptr");
  {
    qvt_DatabaseReprFile db;
    db.Open(qvt_File::Open(Path(), 0, true), "");
    QVT_EXPECT_THROW_TEXT(db.Open(qvt_File::Open(Path(), 0, true), ""), nex_AssertException,
                          "!m_Ready && m_Blocks.empty()");
  }
  Bytes b = good;
  PutBE32(b, kPools + 4, 0x01020304);
  WriteAll(Path(), b);
  QVT_EXPECT_THROW_TEXT(Open("test.odb", false), nex_TextException,
                        "***ERROR: Metadata table object is not where it belongs.");
  EXPECT_EQ(ReadAll(Path()), b);
  WriteAll(Path(), good);
  for (std::int64_t length = static_cast<std::int64_t>(good.size()); length > 1;) {
    length -= length > 1100 ? 97 : 1;
    TruncateTo(Path(), length);
    EXPECT_THROW(Open(), nex_Exception) << "length " << length;
  }
}

// A transaction begun or a flush ended while a reader reads the linkage: that
// refresh takes nothing up, a later one the whole flush.
TEST_F(DatabaseHeaderTest, SnapTakesNothingUpFromALinkageChangedWhileItWasRead) {
  auto writer = Create("snap.odb", "TEST", "x", 1);
  const auto flush = [&] {
    std::unique_ptr<qvt_SpaceRepr>(writer->Space(-1))->WriteInt(7);
    writer->Flush();
  };
  flush();
  auto* file = new InterleavedFile(Path("snap.odb"));
  qvt_DatabaseReprFile reader;
  reader.Open(qvt_File(file), "");
  for (const std::function<void()>& during :
       std::vector<std::function<void()>>{[&] { writer->ReaderSemaphoreSet(); }, [&] { flush(); }}) {
    flush();
    file->countdown = 2;  // the first read after the flush count's
    file->step = during;
    EXPECT_FALSE(reader.Snap());
    writer->ReaderSemaphoreClear();
    EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Updated);
    EXPECT_TRUE(reader.Snap());
    EXPECT_EQ(reader.GetFlushCount(), writer->GetFlushCount());
  }
}

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
