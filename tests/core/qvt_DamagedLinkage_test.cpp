// Damaged linkages and headers: chains of extents and of blocks that loop,
// entries out of bounds, random damage, and the decoders that list every
// problem with the text qvtdb check prints. Every case ends in a clear
// exception or a sound answer, never a crash or a walk that does not end.
#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "nex_Exception.h"
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
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

using namespace qvt_test;

namespace {

using Bytes = std::vector<unsigned char>;

class DamagedLinkageTest : public DatabaseFixture {
 protected:
  std::string Corrupt() const {
    return "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Path();
  }
  // A closed database with spaces 4 and 5 of three interleaved extents each
  // and a few strings.
  Bytes MakeDatabase() {
    {
      auto db = Create();
      std::unique_ptr<qvt_SpaceRepr> a(db->Space(-1));
      std::unique_ptr<qvt_SpaceRepr> b(db->Space(-1));
      for (int i = 0; i < 3; ++i) {
        a->WriteInt(100 + i);
        b->WriteInt(200 + i);
      }
      db->StringPool().StringOffset("one");
      db->StringPool().StringOffset("two");
    }
    return ReadAll(Path());
  }
  static std::size_t Entry(qvt_Handle handle) { return 1024 + (handle & 511u) * 28; }
};

// Each damage of the sound file, and where it is found: at Open, when a
// space is opened, or when its bytes are read.
TEST_F(DamagedLinkageTest, DamagedEntriesAndChainsAreReportedCorrupt) {
  enum Where { kOpen, kSpace4, kSpace5, kRead5 };
  using Damage = std::function<void(Bytes&)>;
  const auto next = [](Bytes& b, qvt_Handle from, std::uint32_t to) { PutBE32(b, Entry(from) + 24, to); };
  const auto chain = ExtentChain;
  const struct {
    const char* what;
    Where where;
    Damage damage;
  } cases[] = {
      {"last extent leads back to the head", kSpace4, [&](Bytes& b) { next(b, chain(b, 4).at(2), 4); }},
      {"last extent leads into the middle", kSpace4,
       [&](Bytes& b) { next(b, chain(b, 4).at(2), chain(b, 4).at(1)); }},
      {"extent leads to itself", kSpace5, [&](Bytes& b) { next(b, 5, 5); }},
      {"next names slot 400", kSpace5, [&](Bytes& b) { next(b, 5, 400); }},
      {"next names slot 512", kSpace5, [&](Bytes& b) { next(b, 5, 512); }},
      {"next names a missing block", kSpace5, [&](Bytes& b) { next(b, 5, 513 * 7); }},
      {"next is all ones", kSpace5, [&](Bytes& b) { next(b, 5, 0xFFFFFFFFu); }},
      {"block 0 names itself next", kOpen, [](Bytes& b) { PutBEDouble(b, 1024 + 16, 1024.0); }},
      {"block 0 beyond the end", kOpen,
       [](Bytes& b) { PutBEDouble(b, 1024 + 16, static_cast<double>(b.size())); }},
      {"negative allocation", kOpen, [](Bytes& b) { PutBEDouble(b, Entry(4), -10.0); }},
      {"length beyond allocation", kOpen, [](Bytes& b) { PutBEDouble(b, Entry(4) + 8, 1e6); }},
      {"location inside the header", kOpen, [](Bytes& b) { PutBEDouble(b, Entry(4) + 16, 500.0); }},
      {"allocation not a number", kOpen,
       [](Bytes& b) { PutBEDouble(b, Entry(4), std::numeric_limits<double>::quiet_NaN()); }},
      {"unplaced entry claiming bytes", kOpen, [](Bytes& b) { PutBEDouble(b, Entry(2), 8.0); }},
      {"extent past the end of the file", kRead5,
       [&](Bytes& b) {
         PutBEDouble(b, Entry(chain(b, 5).back()) + 16, static_cast<double>(b.size() + 4096));
       }},
  };
  const Bytes sound = MakeDatabase();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = sound;
    c.damage(bytes);
    WriteAll(Path(), bytes);
    if (c.where == kOpen) {
      QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
      continue;
    }
    auto db = Open();
    if (c.where == kRead5) {
      std::unique_ptr<qvt_SpaceRepr> b(db->Space(5, -1));
      char read[12];
      QVT_EXPECT_THROW_TEXT(b->Read(read, 12), nex_TextException, Corrupt());
    } else {
      QVT_EXPECT_THROW_TEXT(db->Space(c.where == kSpace4 ? 4 : 5, -1), nex_TextException, Corrupt());
    }
    if (c.where == kSpace4) {
      EXPECT_EQ(std::unique_ptr<qvt_SpaceRepr>(db->Space(5, -1))->Length(), 12);
    }
  }
}

TEST_F(DamagedLinkageTest, BlockChainLoopingOverTwoBlocksIsReportedCorrupt) {
  {
    auto db = Create();
    for (int i = 0; i < 520; ++i) std::unique_ptr<qvt_SpaceRepr>(db->Space(-1));
  }
  Bytes bytes = ReadAll(Path());
  const std::size_t block1 = static_cast<std::size_t>(BEDouble(bytes, 1024 + 16));
  ASSERT_GT(block1, 1024u);
  EXPECT_NO_THROW(Open());
  for (const double to :
       {1024.0, static_cast<double>(block1 + 100)}) {  // back to block 0; overlapping itself
    PutBEDouble(bytes, block1 + 16, to);
    WriteAll(Path(), bytes);
    QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
  }
}

// Damage done in memory, behind the space's back (the second extent of
// space 4 pointed back at the first): no walk runs for ever; long walks are
// stopped by their step count, and once the linkage may have changed (the
// flush count moved), the whole chain is walked again before any partial walk.
TEST_F(DamagedLinkageTest, LoopMadeInMemoryStopsEveryWalk) {
  for (const bool flushed : {false, true}) {
    SCOPED_TRACE(flushed ? "after a flush" : "long walks");
    const std::string name = flushed ? "flushed.odb" : "test.odb";
    auto db = Create(name);
    std::unique_ptr<qvt_SpaceRepr> a(db->Space(-1));
    std::unique_ptr<qvt_SpaceRepr> b(db->Space(-1));
    a->WriteInt(1);
    b->WriteInt(2);
    a->WriteInt(3);
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

// Random damage to the header, block 0 and the data behind it. Each run
// either opens and reads everything or fails with a library exception.
TEST_F(DamagedLinkageTest, RandomByteFlipsNeverCrash) {
  const Bytes sound = MakeDatabase();
  const unsigned seed = 20240611u;
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> where(0, sound.size() - 1);
  std::uniform_int_distribution<int> mask(1, 255);
  int opened = 0;
  for (int run = 0; run < 300; ++run) {
    Bytes bytes = sound;
    for (int flips = 0; flips < 3; ++flips) bytes[where(random)] ^= static_cast<unsigned char>(mask(random));
    WriteAll(Path(), bytes);
    try {
      auto db = Open("test.odb", run % 2 == 0);
      for (qvt_Handle h = 1; h < 12; ++h) {
        if (!db->IsValidHandle(h)) continue;
        std::unique_ptr<qvt_SpaceRepr> space(db->Space(h, -1));
        std::vector<char> data(static_cast<std::size_t>(std::min<utl_FileOffset>(space->Length(), 1 << 20)) +
                               1);
        space->Read(data.data(), static_cast<int>(data.size()));
      }
      for (utl_FileOffset ref = 4; ref < 40; ref += 4) {
        try {
          db->StringPool().String(ref);
        } catch (const nex_Exception& e) {
          EXPECT_NE(e.AsString(), "");
        }
      }
      ++opened;
    } catch (const nex_Exception& e) {
      EXPECT_NE(e.AsString(), "");
    }
  }
  EXPECT_GT(opened, 0) << "seed " << seed;
}

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
