// Damaged linkages: chains of extents and of blocks that loop, entries out
// of bounds, and random damage. Every case ends in a clear exception or a
// sound answer, never a crash or a walk that does not end.
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

class DamagedLinkageTest : public DatabaseFixture {
 protected:
  std::string Corrupt() const {
    return "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Path();
  }
  // A closed database with a space of three chained extents (handle 4,
  // interleaved with handle 5) and a few strings.
  void MakeDatabase() {
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
    m_Bytes = ReadAll(Path());
  }
  std::size_t Entry(qvt_Handle handle) const { return 1024 + (handle & 511u) * 28; }
  void Put32(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
      m_Bytes.at(offset + static_cast<std::size_t>(i)) = static_cast<unsigned char>(value >> (24 - 8 * i));
  }
  void PutDouble(std::size_t offset, double value) {
    std::uint64_t raw;
    std::memcpy(&raw, &value, 8);
    Put32(offset, static_cast<std::uint32_t>(raw >> 32));
    Put32(offset + 4, static_cast<std::uint32_t>(raw));
  }
  void Save() { WriteAll(Path(), m_Bytes); }
  // Makes space 4 of db (held in a) with two extents around the one of
  // space 5 (held in b), then points the second extent back at the first in
  // memory, behind the spaces' backs; answers the second extent's handle.
  qvt_Handle LoopSecondExtentBack(qvt_DatabaseReprFile& db, std::unique_ptr<qvt_SpaceRepr>& a,
                                  std::unique_ptr<qvt_SpaceRepr>& b) {
    a.reset(db.Space(-1));
    b.reset(db.Space(-1));
    a->WriteInt(1);
    b->WriteInt(2);
    a->WriteInt(3);
    const qvt_Handle second = db.LinkageEntry(4).m_Next;
    if (second == 0) {
      ADD_FAILURE() << "space 4 has a single extent";
      return 0;
    }
    db.LinkageEntry(second).m_Next = 4;
    return second;
  }
  std::vector<unsigned char> m_Bytes;
};

TEST_F(DamagedLinkageTest, LoopingExtentChainIsReportedCorrupt) {
  MakeDatabase();
  const qvt_Handle second = BE32(m_Bytes, Entry(4) + 24);
  const qvt_Handle third = BE32(m_Bytes, Entry(second) + 24);
  ASSERT_NE(third, 0u);
  Put32(Entry(third) + 24, 4);  // the last extent leads back to the head
  Save();
  auto db = Open();
  QVT_EXPECT_THROW_TEXT(db->Space(4, -1), nex_TextException, Corrupt());
  // The other space is untouched.
  std::unique_ptr<qvt_SpaceRepr> b(db->Space(5, -1));
  EXPECT_EQ(b->Length(), 12);
}

TEST_F(DamagedLinkageTest, ExtentLeadingToItselfIsReportedCorrupt) {
  MakeDatabase();
  Put32(Entry(5) + 24, 5);
  Save();
  auto db = Open();
  QVT_EXPECT_THROW_TEXT(db->Space(5, -1), nex_TextException, Corrupt());
}

// Damage done in memory, behind the space's back: no walk runs for ever,
// long walks are stopped by their step count...
TEST_F(DamagedLinkageTest, LoopMadeInMemoryStopsEveryLongWalk) {
  auto db = Create();
  std::unique_ptr<qvt_SpaceRepr> a;
  std::unique_ptr<qvt_SpaceRepr> b;
  const qvt_Handle second = LoopSecondExtentBack(*db, a, b);
  QVT_EXPECT_THROW_TEXT(a->Seek(1 << 20), nex_TextException, Corrupt());
  QVT_EXPECT_THROW_TEXT(a->Extend(64), nex_TextException, Corrupt());
  a->Seek(0);
  std::vector<char> bytes(4096);
  QVT_EXPECT_THROW_TEXT(a->Read(bytes.data(), 4096), nex_TextException, Corrupt());
  a->Seek(0);
  QVT_EXPECT_THROW_TEXT(a->Write(bytes.data(), 4096), nex_TextException, Corrupt());
  QVT_EXPECT_THROW_TEXT(a->Truncate(0), nex_TextException, Corrupt());
  db->LinkageEntry(second).m_Next = 0;  // undo, so that closing is sound
}

// ...and once the linkage may have changed (the flush count moved), the
// whole chain is walked again before any partial walk.
TEST_F(DamagedLinkageTest, LoopIsCaughtBeforeAnyWalkOnceTheFlushCountMoves) {
  auto db = Create();
  std::unique_ptr<qvt_SpaceRepr> a;
  std::unique_ptr<qvt_SpaceRepr> b;
  const qvt_Handle second = LoopSecondExtentBack(*db, a, b);
  db->Flush();
  QVT_EXPECT_THROW_TEXT(a->Seek(5), nex_TextException, Corrupt());
  QVT_EXPECT_THROW_TEXT(a->Length(), nex_TextException, Corrupt());
  char bytes[4] = {};
  QVT_EXPECT_THROW_TEXT(a->Write(bytes, 4), nex_TextException, Corrupt());
  QVT_EXPECT_THROW_TEXT(a->Read(bytes, 4), nex_TextException, Corrupt());
  db->LinkageEntry(second).m_Next = 0;
}

TEST_F(DamagedLinkageTest, LoopIntoTheMiddleOfAChainIsReportedCorrupt) {
  MakeDatabase();
  const qvt_Handle second = BE32(m_Bytes, Entry(4) + 24);
  const qvt_Handle third = BE32(m_Bytes, Entry(second) + 24);
  Put32(Entry(third) + 24, second);
  Save();
  auto db = Open();
  QVT_EXPECT_THROW_TEXT(db->Space(4, -1), nex_TextException, Corrupt());
}

TEST_F(DamagedLinkageTest, BlockChainLoopingBackIsReportedCorrupt) {
  MakeDatabase();
  PutDouble(1024 + 16, 1024.0);  // block 0 names itself as the next block
  Save();
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
}

TEST_F(DamagedLinkageTest, BlockChainLoopingOverTwoBlocksIsReportedCorrupt) {
  {
    auto db = Create();
    for (int i = 0; i < 520; ++i) std::unique_ptr<qvt_SpaceRepr>(db->Space(-1));
  }
  m_Bytes = ReadAll(Path());
  const std::size_t block1 = static_cast<std::size_t>(BEDouble(m_Bytes, 1024 + 16));
  ASSERT_GT(block1, 1024u);
  EXPECT_NO_THROW(Open());
  PutDouble(block1 + 16, 1024.0);  // block 1 leads back to block 0
  Save();
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
  PutDouble(block1 + 16, static_cast<double>(block1 + 100));  // overlapping itself
  Save();
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
}

TEST_F(DamagedLinkageTest, BlockBeyondTheEndOfTheFileIsReportedCorrupt) {
  MakeDatabase();
  PutDouble(1024 + 16, static_cast<double>(m_Bytes.size()));
  Save();
  QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
}

TEST_F(DamagedLinkageTest, EntriesOutOfBoundsAreReportedCorrupt) {
  MakeDatabase();
  const std::vector<unsigned char> sound = m_Bytes;
  struct Damage {
    const char* what;
    std::size_t offset;
    double value;
  };
  const Damage damages[] = {
      {"negative allocation", Entry(4), -10.0},
      {"length beyond allocation", Entry(4) + 8, 1e6},
      {"location inside the header", Entry(4) + 16, 500.0},
      {"not a number", Entry(4), std::numeric_limits<double>::quiet_NaN()},
      {"unplaced entry claiming bytes", Entry(2), 8.0},
  };
  for (const Damage& d : damages) {
    m_Bytes = sound;
    PutDouble(d.offset, d.value);
    Save();
    QVT_EXPECT_THROW_TEXT(Open(), nex_TextException, Corrupt());
  }
}

TEST_F(DamagedLinkageTest, NextNamingAMissingSlotIsReportedCorrupt) {
  MakeDatabase();
  for (const std::uint32_t next : {400u, 512u, 513u * 7u, 0xFFFFFFFFu}) {
    Put32(Entry(5) + 24, next);
    Save();
    auto db = Open();
    QVT_EXPECT_THROW_TEXT(db->Space(5, -1), nex_TextException, Corrupt());
  }
}

TEST_F(DamagedLinkageTest, ExtentPastTheEndOfTheFileFailsOnRead) {
  MakeDatabase();
  // Move the last extent of space 5 far beyond the end of the file.
  qvt_Handle last = 5;
  while (BE32(m_Bytes, Entry(last) + 24) != 0) last = BE32(m_Bytes, Entry(last) + 24);
  PutDouble(Entry(last) + 16, static_cast<double>(m_Bytes.size() + 4096));
  Save();
  auto db = Open();
  std::unique_ptr<qvt_SpaceRepr> b(db->Space(5, -1));
  char bytes[12];
  QVT_EXPECT_THROW_TEXT(b->Read(bytes, 12), nex_TextException, Corrupt());
}

// Random damage to the header, block 0 and the data behind it. Each run
// either opens and reads everything or fails with a library exception.
TEST_F(DamagedLinkageTest, RandomByteFlipsNeverCrash) {
  MakeDatabase();
  const std::vector<unsigned char> sound = m_Bytes;
  const unsigned seed = 20240611u;
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> where(0, sound.size() - 1);
  std::uniform_int_distribution<int> mask(1, 255);
  int opened = 0;
  for (int run = 0; run < 300; ++run) {
    m_Bytes = sound;
    for (int flips = 0; flips < 3; ++flips) m_Bytes[where(random)] ^= static_cast<unsigned char>(mask(random));
    Save();
    try {
      auto db = Open("test.odb", run % 2 == 0);
      for (qvt_Handle h = 1; h < 12; ++h) {
        if (!db->IsValidHandle(h)) continue;
        std::unique_ptr<qvt_SpaceRepr> space(db->Space(h, -1));
        std::vector<char> bytes(static_cast<std::size_t>(std::min<utl_FileOffset>(space->Length(), 1 << 20)) + 1);
        space->Read(bytes.data(), static_cast<int>(bytes.size()));
      }
      for (utl_FileOffset ref = 4; ref < 40; ref += 4) {
        try {
          db->StringPool().String(ref);
        } catch (const nex_Exception&) {
        }
      }
      ++opened;
    } catch (const nex_Exception& e) {
      SUCCEED() << e.AsString();
    }
  }
  RecordProperty("seed", static_cast<int>(seed));
  EXPECT_GT(opened, 0) << "seed " << seed;
}

}  // namespace
