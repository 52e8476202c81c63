// Handles, linkage blocks, extents and their growth, seeks, reads, truncation;
// the string pool in space 1: records, references, readers, neutering, damage.
#include "qvt_SpaceReprFile.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_FileRepr.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_StringManagerFile.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

using namespace qvt_test;

namespace {

const char kNotAvailable[] = "qvt_StringManagerFile::String - String is not available.";

class SpaceTest : public DatabaseFixture {
 protected:
  void SetUp() override { m_Db = Create(); }
  qvt_StringManagerFile& Pool() { return m_Db->StringPool(); }
  std::string PoolBytes() {
    const std::vector<unsigned char> bytes = ObjectBytes(*m_Db, 1);
    return std::string(bytes.begin(), bytes.end());
  }
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
  const std::vector<unsigned char> b = ReadAll(Path());
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
    QVT_EXPECT_THROW_TEXT(r->Write(bytes, 4), nex_TextException, kReadOnly);
    QVT_EXPECT_THROW_TEXT(r->Extend(4), nex_TextException, kReadOnly);
    QVT_EXPECT_THROW_TEXT(r->Truncate(0), nex_TextException, kReadOnly);
  }
  auto writer = Open("test.odb", false);
  EXPECT_EQ(writer->LinkageBlockCount(), 2);
  EXPECT_EQ(std::unique_ptr<qvt_SpaceRepr>(writer->Space(4, -1))->Length(), 0);
  EXPECT_EQ(ExtentChain(b, 1), (std::vector<qvt_Handle>{1, 514}));  // the string pool grew at the close
  EXPECT_EQ(std::unique_ptr<qvt_SpaceRepr>(writer->Space(-1))->Handle(), 515u);
}

TEST_F(SpaceTest, IncrementsGrowthChainsAndTruncation) {
  auto zero = NewSpace(0);
  auto big = NewSpace(100);
  WriteBytes(*zero, 1);
  EXPECT_EQ(m_Db->LinkageEntry(zero->Handle()).m_Allocation, 4);
  EXPECT_EQ(m_Db->LinkageEntry(zero->Handle()).m_Length, 1);
  WriteBytes(*big, 1);
  EXPECT_EQ(big->Allocation(), 100);
  // Alternate growth chains extents on the next handles; lone growth stays in place.
  auto a = NewSpace();
  auto b = NewSpace();
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
  auto a = NewSpace();
  auto b = NewSpace();
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
    QVT_EXPECT_THROW_TEXT(m_Db->LinkageEntry(h), nex_TextException,
                          "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Path());
}

TEST(FileOffsetCodecTest, DoublesRoundToTheNearestOffset) {
  const omi_Swapper big(EndianBig);
  const std::pair<double, utl_FileOffset> cases[] = {
      {1023.6, 1024}, {1023.4, 1023}, {0.0, 0}, {-0.3, 0}, {-2.0, -7}, {1e300, -7}, {std::nan(""), -7}};
  std::vector<unsigned char> bytes(8);
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
  std::vector<unsigned char> refs(24);
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
  EXPECT_EQ(reader->StringPool().String(4), "");
  EXPECT_EQ(reader->StringPool().String(8), "");
  EXPECT_EQ(reader->StringPool().String(16), "after");
}

// A bad length stops the scan; a writer on a damaged pool adds behind everything.
TEST_F(StringPoolTest, DamagedLengthsStopTheScan) {
  Pool().StringOffset("abc");
  Pool().StringOffset("defgh");
  m_Db.reset();
  const std::vector<unsigned char> sound = ReadAll(Path());
  for (const auto& damage : {std::make_pair(4, 0x7FFFFFFFu), std::make_pair(12, 0xFFFFFFFBu)}) {
    std::vector<unsigned char> bytes = sound;
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

}  // namespace
