// Damaged linkages: chains of extents and of blocks that loop, entries out
// of bounds, and random damage. Every case ends in a clear exception or a
// sound answer, never a crash or a walk that does not end.
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

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
      SUCCEED() << e.AsString();
    }
  }
  RecordProperty("seed", static_cast<int>(seed));
  EXPECT_GT(opened, 0) << "seed " << seed;
}

}  // namespace
