// The database file (header, flush counts, Open's checks in order, failed opens and creates, damaged
// files in tests/corpus, linkage loops, the decoders qvtdb check uses), its spaces and string pool, and a
// writer whose file fails from its N-th change on: a completed flush's records stay whole, never a mix.
#include "qvt_DatabaseReprFile.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ArrayRepr.h"
#include "qvt_ChildProcess.h"
#include "qvt_Corpus.h"
#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_DatabaseHeader.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_FileReprLocal.h"
#include "qvt_IOBuffer.h"
#include "qvt_Linkage.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_Problems.h"
#include "qvt_SpaceRepr.h"
#include "qvt_SpaceReprFile.h"
#include "qvt_StringManagerFile.h"
#include "qvt_TaggedStreamRepr.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

using namespace qvt_test;

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kCorrupt = "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  ";
constexpr std::size_t kPools = 1024 + 14336;  // the first extent, behind linkage block 0

std::string Text(const Bytes& bytes, std::size_t count = std::string::npos) {
  return std::string(bytes.begin(), bytes.end()).substr(0, count);
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
  EXPECT_EQ(Text(b, 1024), header);
  db->Flush();
  EXPECT_EQ((std::vector<std::uint32_t>{std::uint32_t(db->GetFlushCount()), BE32(ReadAll(Path()), 512)}),
            (std::vector<std::uint32_t>{1, 1}));
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
    EXPECT_EQ(Text(ReadAll(Path(code + ".odb")), 8), "WOXR" + (code + std::string(4, '\0')).substr(0, 4));
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

// Each damage is found at Open, at a space's open or at its read, and a space it does not touch reads whole;
// each file would fail an earlier check if the header's checks ran out of order.
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
    const std::string corrupt = kCorrupt + Path(name);
    using Walk = std::function<void()>;
    const std::vector<Walk> walks =
        flushed
            ? std::vector<Walk>{[&] { a->Seek(5); }, [&] { a->Length(); }, [&] { a->Write(bytes.data(), 4); },
                                [&] { a->Read(bytes.data(), 4); }}
            : std::vector<Walk>{[&] { a->Seek(1 << 20); }, [&] { a->Extend(64); },
                                [&] { a->Seek(0), a->Read(bytes.data(), 4096); },
                                [&] { a->Seek(0), a->Write(bytes.data(), 4096); }, [&] { a->Truncate(0); }};
    if (flushed) db->Flush();
    for (const Walk& walk : walks) QVT_EXPECT_THROW_TEXT(walk(), nex_TextException, corrupt);
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

const char kNotAvailable[] = "qvt_StringManagerFile::String - String is not available.";

class SpaceTest : public DatabaseFixture {
 protected:
  void SetUp() override { m_Db = Create(); }
  qvt_StringManagerFile& Pool() { return m_Db->StringPool(); }
  std::string PoolBytes() { return Text(ObjectBytes(*m_Db, 1)); }
  std::string Damaged(int from) const {
    return "qvt_StringManagerFile::String - String pool is damaged from offset " + std::to_string(from) + ".";
  }
  std::unique_ptr<qvt_SpaceRepr> NewSpace(int increment = -1) {
    return std::unique_ptr<qvt_SpaceRepr>(m_Db->Space(increment));
  }
  static void WriteBytes(qvt_SpaceRepr& space, int count, char fill = 'x') {
    const std::vector<char> bytes(static_cast<std::size_t>(count), fill);
    EXPECT_EQ(space.Write(bytes.data(), count), count);
  }
  static std::string ReadFrom(qvt_SpaceRepr& space, utl_FileOffset at, int count) {
    space.Seek(at);
    std::vector<char> bytes(static_cast<std::size_t>(count));
    return std::string(bytes.data(), static_cast<std::size_t>(space.Read(bytes.data(), count)));
  }
  int ExtentCount(qvt_Handle head) {
    int n = 0;
    for (qvt_Handle h = head; h != 0; h = m_Db->LinkageEntry(h).m_Next) ++n;
    return n;
  }
  std::unique_ptr<qvt_DatabaseReprFile> m_Db;
};
using StringPoolTest = SpaceTest;

// Objects start at 4; block 1 follows handle 511, linked from entry 0 of block
// 0; handles survive a reopen; a reader's space refuses every change.
TEST_F(SpaceTest, HandlesAndLinkageBlocks) {
  EXPECT_EQ(NewSpace()->Handle(), 4u);
  EXPECT_EQ(m_Db->NewHandle(), 5u);
  qvt_Handle last = 0;
  while (last < 511) last = NewSpace()->Handle();
  EXPECT_EQ(m_Db->LinkageBlockCount(), 1);
  const utl_FileOffset block1 = m_Db->File().FileLength();
  auto space = NewSpace();
  EXPECT_EQ(space->Handle(), 513u);
  ASSERT_EQ(m_Db->LinkageBlockCount(), 2);
  EXPECT_EQ(m_Db->LinkageBlockAt(1).m_FileOffset, block1);
  space->WriteInt(1);
  space->WriteDouble(2.5);
  space->WriteString("pooled");
  space.reset();
  m_Db.reset();
  const Bytes b = ReadAll(Path());
  const std::size_t e513 = static_cast<std::size_t>(block1) + 28;  // 513: behind the link entry
  EXPECT_EQ((std::vector<double>{BEDouble(b, 1024), BEDouble(b, 1032), BEDouble(b, 1040),
                                 double(BE32(b, 1048)), BEDouble(b, e513 + 8)}),
            (std::vector<double>{0, 0, static_cast<double>(block1), 512, 20}));
  const std::size_t where = static_cast<std::size_t>(BEDouble(b, e513 + 16));
  EXPECT_GE(static_cast<utl_FileOffset>(where), block1 + 14336);
  // Typed values are big-endian; a string is the double offset of its record.
  EXPECT_EQ((std::vector<double>{double(BE32(b, where)), BEDouble(b, where + 4), BEDouble(b, where + 12)}),
            (std::vector<double>{1, 2.5, 4}));
  {
    auto reader = Open();
    std::unique_ptr<qvt_SpaceRepr> r(reader->Space(513, -1));
    EXPECT_EQ(r->Length(), 20);
    char bytes[4] = {};
    ExpectEachThrows<nex_TextException>(
        kReadOnly, {[&] { r->Write(bytes, 4); }, [&] { r->Extend(4); }, [&] { r->Truncate(0); }});
  }
  auto writer = Open("test.odb", false);
  EXPECT_EQ(writer->LinkageBlockCount(), 2);
  EXPECT_EQ(std::unique_ptr<qvt_SpaceRepr>(writer->Space(4, -1))->Length(), 0);
  EXPECT_EQ(ExtentChain(b, 1), (std::vector<qvt_Handle>{1, 514}));  // the string pool grew at the close
  EXPECT_EQ(std::unique_ptr<qvt_SpaceRepr>(writer->Space(-1))->Handle(), 515u);
}

TEST_F(SpaceTest, IncrementsGrowthChainsAndTruncation) {
  auto zero = NewSpace(0), big = NewSpace(100);
  WriteBytes(*zero, 1);
  WriteBytes(*big, 1);
  const qvt_LinkageEntry& entry = m_Db->LinkageEntry(zero->Handle());
  EXPECT_EQ((std::vector<utl_FileOffset>{entry.m_Allocation, entry.m_Length, big->Allocation()}),
            (std::vector<utl_FileOffset>{4, 1, 100}));
  // Alternate growth chains extents on the next handles; lone growth stays in place.
  auto a = NewSpace(), b = NewSpace();
  for (int round = 0; round < 3; ++round) {
    WriteBytes(*a, 4, 'a');
    WriteBytes(*b, 4, 'b');
  }
  EXPECT_EQ((std::vector<qvt_Handle>{m_Db->LinkageEntry(6).m_Next, m_Db->LinkageEntry(7).m_Next,
                                     m_Db->LinkageEntry(8).m_Next, m_Db->LinkageEntry(10).m_Next}),
            (std::vector<qvt_Handle>{8, 9, 10, 0}));
  auto lone = NewSpace();
  for (int round = 0; round < 5; ++round) WriteBytes(*lone, 4, 'l');
  EXPECT_EQ((std::vector<utl_FileOffset>{ExtentCount(lone->Handle()), lone->Allocation()}),
            (std::vector<utl_FileOffset>{1, 20}));
  // Another object on the handle shares the extents, not the location.
  std::unique_ptr<qvt_SpaceRepr> other(m_Db->Space(7, -1));
  EXPECT_EQ(ReadFrom(*other, 0, 12), std::string(12, 'b'));
  EXPECT_EQ(b->Location(), 12);
  // Truncating to zero and rewriting reuses the extents.
  const utl_FileOffset fileLength = m_Db->File().FileLength();
  const utl_FileOffset allocation = a->Allocation();
  a->Truncate(0);
  EXPECT_EQ((std::vector<utl_FileOffset>{a->Length(), a->Allocation()}),
            (std::vector<utl_FileOffset>{0, allocation}));
  WriteBytes(*a, 12, 'z');
  EXPECT_EQ((std::vector<utl_FileOffset>{a->Allocation(), ExtentCount(6), m_Db->File().FileLength()}),
            (std::vector<utl_FileOffset>{allocation, 3, fileLength}));
  EXPECT_EQ(ReadFrom(*a, 0, 12), std::string(12, 'z'));
  a->Truncate(6);
  EXPECT_EQ(a->Length(), 6);
  a->Truncate(100);
  EXPECT_EQ(a->Length(), 6);
}

// A failed seek keeps the old place for reading and writing; reads stop at the end.
TEST_F(SpaceTest, SeekReadExtendAndTheirRefusals) {
  auto a = NewSpace(), b = NewSpace();
  WriteBytes(*a, 4, '1');
  WriteBytes(*b, 4, '-');
  WriteBytes(*a, 6, '2');
  const auto seek = [](const std::string& offset) {
    return "***ERROR: Invalid seek offset: " + offset +
           ".  This is usually caused by depletion of free space on the filesystem on which the ODB file is "
           "being built.";
  };
  a->Seek(10);
  QVT_EXPECT_THROW_TEXT(a->Seek(11), nex_TextException, seek("11.000000"));
  QVT_EXPECT_THROW_TEXT(a->Seek(-1), nex_TextException, seek("-1.000000"));
  char bytes[10];
  EXPECT_EQ(a->Read(bytes, 10), 0);
  a->Seek(5);
  EXPECT_THROW(a->Seek(19), nex_TextException);
  ASSERT_EQ(a->Read(bytes, 10), 5);  // from offset 5, in the second extent, to the end
  EXPECT_EQ(std::string(bytes, 5), "22222");
  a->Seek(2);
  EXPECT_THROW(a->Seek(100), nex_TextException);
  WriteBytes(*a, 1, 'w');
  EXPECT_EQ(ReadFrom(*a, 0, 10), "11w1222222");
  auto s = NewSpace(16);
  for (const int bad : {0, -3})
    QVT_EXPECT_THROW_TEXT(s->Extend(bad), nex_TextException,
                          "qvt_SpaceReprFile::Extend: Invalid file extend increment specified.");
  WriteBytes(*s, 1);
  const utl_FileOffset fileLength = m_Db->File().FileLength();
  EXPECT_TRUE(s->Extend(15));  // within the allocation: the file does not grow
  EXPECT_EQ((std::vector<utl_FileOffset>{s->Allocation(), m_Db->File().FileLength()}),
            (std::vector<utl_FileOffset>{16, fileLength}));
  s->Extend(16);
  EXPECT_EQ((std::vector<utl_FileOffset>{s->Allocation(), m_Db->File().FileLength(), s->Length()}),
            (std::vector<utl_FileOffset>{32, fileLength + 16, 1}));
  const std::string pointer = "***ERROR: Invalid data buffer pointer when ",
                    length = "***ERROR: Invalid length when ";
  QVT_EXPECT_THROW_TEXT(s->Write(nullptr, 1), nex_TextException, pointer + "writing space.");
  QVT_EXPECT_THROW_TEXT(s->Write(bytes, 0), nex_TextException, length + "writing space.");
  QVT_EXPECT_THROW_TEXT(s->Read(nullptr, 1), nex_TextException, pointer + "reading space.");
  QVT_EXPECT_THROW_TEXT(s->Read(bytes, 0), nex_TextException, length + "reading space.");
  for (qvt_Handle h : {0u, 512u, 100u, 1024u * 512u + 1u}) {
    EXPECT_FALSE(m_Db->IsValidHandle(h)) << h;
    QVT_EXPECT_THROW_TEXT(m_Db->Space(h, -1), nex_TextException, kInvalidDatabase);
  }
  for (qvt_Handle h : {100u, 512u, 2048u})
    QVT_EXPECT_THROW_TEXT(m_Db->LinkageEntry(h), nex_TextException, kCorrupt + Path());
}

TEST(FileOffsetCodecTest, DoublesRoundToTheNearestOffset) {
  const omi_Swapper big(EndianBig);
  const std::pair<double, utl_FileOffset> cases[] = {
      {1023.6, 1024}, {1023.4, 1023}, {0.0, 0}, {-0.3, 0}, {-2.0, -7}, {1e300, -7}, {std::nan(""), -7}};
  Bytes bytes(8);
  for (const auto& c : cases) {
    PutBEDouble(bytes, 0, c.first);
    utl_FileOffset offset = -7;
    EXPECT_EQ(qvt_DecodeFileOffset(bytes.data(), big, &offset) ? offset : -7, c.second) << c.first;
  }
  qvt_EncodeFileOffset(bytes.data(), 15360, big);
  EXPECT_EQ(BEDouble(bytes, 0), 15360.0);
}

// Records (a length, the text padded to four) are written at the flush, one per
// distinct string; offsets that start no record are refused; references are doubles.
TEST_F(StringPoolTest, RecordsAndReferences) {
  QVT_EXPECT_THROW_TEXT(Pool().String(4), nex_TextException, kNotAvailable);
  EXPECT_EQ((std::vector<utl_FileOffset>{Pool().StringOffset("abc"), Pool().StringOffset("next"),
                                         Pool().StringOffset(""), Pool().StringOffset("next"),
                                         Pool().StringCount(), Pool().KnownEnd()}),
            (std::vector<utl_FileOffset>{4, 12, 20, 12, 3, 24}));
  EXPECT_EQ(PoolBytes().size(), 4u);  // nothing written before the flush
  m_Db->Flush();
  EXPECT_EQ(PoolBytes(), std::string("\xAA\xFF\xBB\xEE\0\0\0\3abc\0\0\0\0\4next\0\0\0\0", 24));
  EXPECT_EQ((std::vector<cow_String>{Pool().String(20), Pool().String(4)}),
            (std::vector<cow_String>{"", "abc"}));
  for (const utl_FileOffset bad : {5, -1, 24})
    QVT_EXPECT_THROW_TEXT(Pool().String(bad), nex_TextException, kNotAvailable);
  const cow_String in[3] = {"next", "new", "next"};
  Bytes refs(24);
  Pool().ExternalizeStrings(reinterpret_cast<char*>(refs.data()), in, 3);
  EXPECT_EQ((std::vector<double>{BEDouble(refs, 0), BEDouble(refs, 8), BEDouble(refs, 16)}),
            (std::vector<double>{12, 24, 12}));
  // A reader places new strings behind what it loaded; it cannot flush them.
  auto reader = Open();
  EXPECT_EQ((std::vector<utl_FileOffset>{reader->StringPool().StringOffset("next"),
                                         reader->StringPool().StringOffset("fresh")}),
            (std::vector<utl_FileOffset>{12, 24}));
  QVT_EXPECT_THROW_TEXT(reader->Flush(), nex_TextException, kReadOnly);
  StderrCapture closing;
  reader.reset();
  EXPECT_EQ(closing.Stop(), "*** WARNING: closing database \"" + Path() + "\" (flush): " + kReadOnly + "\n");
}

// Neutering keeps the record's size (cut, or zeros behind); this process keeps
// the old text, a new one reads empty strings and still finds the next record.
TEST_F(StringPoolTest, NeuterStringKeepsTheRecordSize) {
  const cow_String texts[2] = {"abcdef", "after"};
  unsigned char refs[16];
  Pool().ExternalizeStrings(reinterpret_cast<char*>(refs), texts, 2);
  char* first = reinterpret_cast<char*>(refs);
  const std::pair<const char*, std::string> cases[] = {{"XYZXYZXYZ", std::string("\0\0\0\6XYZXYZ\0\0", 12)},
                                                       {"ab", std::string("\0\0\0\2ab\0\0\0\0\0\0", 12)},
                                                       {"", std::string(12, '\0')}};
  for (const auto& c : cases) {
    Pool().NeuterString(first, c.first);
    EXPECT_EQ(PoolBytes().substr(4, 12), c.second) << c.first;
  }
  EXPECT_EQ(Pool().String(4), "abcdef");
  unsigned char bad[8];
  qvt_EncodeFileOffset(bad, 6, omi_Swapper(EndianBig));
  QVT_EXPECT_THROW_TEXT(Pool().NeuterString(reinterpret_cast<char*>(bad), "x"), nex_TextException,
                        kNotAvailable);
  m_Db.reset();
  auto reader = Open();
  qvt_StringManagerFile& pool = reader->StringPool();
  EXPECT_EQ((std::vector<cow_String>{pool.String(4), pool.String(8), pool.String(16)}),
            (std::vector<cow_String>{"", "", "after"}));
}

// A bad length stops the scan; a writer on a damaged pool adds behind everything.
TEST_F(StringPoolTest, DamagedLengthsStopTheScan) {
  Pool().StringOffset("abc");
  Pool().StringOffset("defgh");
  m_Db.reset();
  const Bytes sound = ReadAll(Path());
  for (const auto& damage : {std::make_pair(4, 0x7FFFFFFFu), std::make_pair(12, 0xFFFFFFFBu)}) {
    Bytes bytes = sound;
    PutBE32(bytes, FileOffsetOf(bytes, 1, damage.first), damage.second);
    WriteAll(Path(), bytes);
    auto db = Open();
    QVT_EXPECT_THROW_TEXT(db->StringPool().String(damage.first), nex_TextException, Damaged(damage.first));
    QVT_EXPECT_THROW_TEXT(db->StringPool().String(16), nex_TextException, Damaged(damage.first));
    QVT_EXPECT_THROW_TEXT(db->StringPool().String(40), nex_TextException, kNotAvailable);
  }
  EXPECT_EQ(Open()->StringPool().StringCount(), 1);  // the record before the damage
  {
    auto writer = Open("test.odb", false);
    EXPECT_EQ(writer->StringPool().StringOffset("added"), 24);
    writer->Flush();
    EXPECT_EQ(writer->StringPool().String(24), "added");
  }
  auto reader = Open();
  EXPECT_EQ(reader->StringPool().String(4), "abc");
  QVT_EXPECT_THROW_TEXT(reader->StringPool().String(24), nex_TextException, Damaged(12));
}

using Db = qvt_DatabaseReprFile;
double Value(int i) { return i * 1.5 - 7.0; }
cow_String Word(int i) { return "word " + std::to_string(i % 37); }

struct ObjectKind {
  std::string name;
  int first, second;   // records of the first and the second flush
  bool prefixAllowed;  // a space may show any whole prefix of its second round
  std::function<void(Db&, const std::function<void()>& flush)> write;  // two rounds, each flushed
  std::function<int(Db&)> check;  // checks every value reopened, answers the record count
};

const ObjectKind kKinds[] = {
    {"Space", 100, 3000, true,
     [](Db& db, const std::function<void()>& flush) {
       std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1)), other(db.Space(-1));
       for (int i = 0; i < 100; ++i) space->WriteInt(i);
       db.StringPool().StringOffset("first");
       flush();
       {
         qvt_IOBuffer buffer(*space, 1024);
         for (int i = 100; i < 3100; ++i) {
           buffer.WriteInt(i);
           if (i % 500 == 0) other->WriteInt(-i);  // forces new extents
         }
         buffer.Flush();
       }
       db.StringPool().StringOffset("second");
       flush();
     },
     [](Db& db) {
       const std::vector<unsigned char> bytes = ObjectBytes(db, 4);
       const std::vector<std::uint32_t> values = Words(bytes, 0, bytes.size() / 4);
       for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], i);
       EXPECT_EQ(db.StringPool().String(4), "first");
       return static_cast<int>(values.size());
     }},
    {"Arrays", 100, 2000, false,
     [](Db& db, const std::function<void()>& flush) {
       qvt_ArrayRepr doubles(&db, qvt_TypeDouble, 2, 0, 256), words(&db, qvt_TypeString, 1, 0, 64);
       std::vector<double> d;
       std::vector<cow_String> w;
       for (int i = 0; i < 2100; ++i) {
         d.insert(d.end(), {Value(2 * i), Value(2 * i + 1)});
         w.push_back(Word(i));
       }
       for (const auto& round : {std::make_pair(0, 100), std::make_pair(100, 2000)}) {
         doubles.Write(&d[static_cast<std::size_t>(2 * round.first)], round.second);
         words.Write(&w[static_cast<std::size_t>(round.first)], round.second);
         doubles.Flush();
         words.Flush();
         flush();
       }
     },
     [](Db& db) {
       qvt_ArrayRepr doubles(&db, 4, 0, 0), words(&db, 5, 0, 0);
       const int rows = doubles.Length();
       EXPECT_EQ(words.Length(), rows);
       std::vector<double> d(static_cast<std::size_t>(rows) * 2);
       std::vector<cow_String> w(static_cast<std::size_t>(rows));
       EXPECT_EQ(doubles.Read(d.data(), rows), rows * 2);
       EXPECT_EQ(words.Read(w.data(), rows), rows);
       for (int i = 0; i < rows * 2; ++i) EXPECT_EQ(d[static_cast<std::size_t>(i)], Value(i));
       for (int i = 0; i < rows; ++i) EXPECT_EQ(w[static_cast<std::size_t>(i)], Word(i));
       return rows;
     }},
    {"TaggedStream", 30, 600, false,
     [](Db& db, const std::function<void()>& flush) {
       qvt_TaggedStreamRepr s(&db, 128);
       for (const auto& round : {std::make_pair(0, 30), std::make_pair(30, 630)}) {
         for (int i = round.first; i < round.second; ++i) WriteTaggedRecord(s, i);
         s.Flush();
         flush();
       }
     },
     [](Db& db) {
       qvt_TaggedStreamRepr s(&db, 4, 0);
       int count = 0;
       while (s.Next()) ExpectTaggedRecord(s, count++);
       return count;
     }}};

class FaultSweepTest : public ::testing::TestWithParam<ObjectKind> {};

TEST_P(FaultSweepTest, EveryFailurePointLeavesTheFlushedRecordsReadable) {
  const ObjectKind& kind = GetParam();
  ScratchDir dir;
  const int points = SweepFileFaults(
      dir.File("faults.odb"),
      [&kind](Db& db, int* flushes) {
        kind.write(db, [&db, flushes] {
          db.Flush();
          ++*flushes;
        });
      },
      [&kind](Db& db, int announced) {
        if (announced == 0) return;
        const int count = kind.check(db);
        const int all = kind.first + kind.second;
        // The second flush's linkage may be on disk without its flush count.
        if (announced == 2)
          EXPECT_EQ(count, all);
        else
          EXPECT_TRUE(kind.prefixAllowed ? count >= kind.first && count <= all
                                         : count == kind.first || count == all)
              << count;
      });
  EXPECT_GT(points, 10);
  RecordProperty("failure_points", points);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultSweepTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<ObjectKind>& p) { return p.param.name; });

}  // namespace
