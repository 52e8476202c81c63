// Handles, linkage blocks and spaces: the order handles are handed out in,
// block links, extent placement and growth, seeks, reads, truncation.
#include "qvt_SpaceReprFile.h"

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

const char kInvalidDatabase[] =
    "***ERROR: Database is not valid. This may indicate that the database has been corrupted.";
const char kReadOnly[] = "The output database was opened as read-only. Modification of data is not permitted.";

std::string SeekMessage(const std::string& offset) {
  return "***ERROR: Invalid seek offset: " + offset +
         ".  This is usually caused by depletion of free space on the filesystem on which the ODB file is "
         "being built.";
}

std::size_t EntryOffset(std::size_t blockOffset, qvt_Handle handle) { return blockOffset + (handle & 511u) * 28; }

class SpaceTest : public DatabaseFixture {
 protected:
  void SetUp() override { m_Db = Create(); }
  std::unique_ptr<qvt_SpaceRepr> NewSpace(int increment = -1) {
    return std::unique_ptr<qvt_SpaceRepr>(m_Db->Space(increment));
  }
  void WriteBytes(qvt_SpaceRepr& space, int count, char fill = 'x') {
    const std::vector<char> bytes(static_cast<std::size_t>(count), fill);
    EXPECT_EQ(space.Write(bytes.data(), count), count);
  }
  int ExtentCount(qvt_Handle head) {
    int n = 0;
    for (qvt_Handle h = head; h != 0; h = m_Db->LinkageEntry(h).m_Next) ++n;
    return n;
  }
  std::unique_ptr<qvt_DatabaseReprFile> m_Db;
};

TEST_F(SpaceTest, FixedSpacesGetOneTwoThreeAndFirstObjectsFourFive) {
  EXPECT_TRUE(m_Db->IsValidHandle(1));
  EXPECT_TRUE(m_Db->IsValidHandle(2));
  EXPECT_TRUE(m_Db->IsValidHandle(3));
  EXPECT_FALSE(m_Db->IsValidHandle(4));
  EXPECT_EQ(NewSpace()->Handle(), 4u);
  EXPECT_EQ(NewSpace()->Handle(), 5u);
  EXPECT_EQ(m_Db->NewHandle(), 6u);
}

TEST_F(SpaceTest, BlockOneFollowsHandle511AndIsLinkedFromEntryZero) {
  qvt_Handle last = 0;
  while (last < 511) last = NewSpace()->Handle();
  EXPECT_EQ(last, 511u);
  EXPECT_EQ(m_Db->LinkageBlockCount(), 1);
  const utl_FileOffset expectedBlock1 = m_Db->File().FileLength();
  auto space = NewSpace();
  EXPECT_EQ(space->Handle(), 513u);
  ASSERT_EQ(m_Db->LinkageBlockCount(), 2);
  EXPECT_EQ(m_Db->LinkageBlockAt(1).m_FileOffset, expectedBlock1);
  EXPECT_EQ(m_Db->LinkageBlockAt(0).m_Entries[0].m_Location, expectedBlock1);
  EXPECT_EQ(m_Db->LinkageBlockAt(0).m_Entries[0].m_Next, 512u);
  WriteBytes(*space, 3);
  space.reset();
  m_Db->Flush();

  const std::vector<unsigned char> b = ReadAll(Path());
  EXPECT_EQ(BEDouble(b, 1024), 0.0);
  EXPECT_EQ(BEDouble(b, 1024 + 8), 0.0);
  EXPECT_EQ(BEDouble(b, 1024 + 16), static_cast<double>(expectedBlock1));
  EXPECT_EQ(BE32(b, 1024 + 24), 512u);
  const std::size_t e513 = EntryOffset(static_cast<std::size_t>(expectedBlock1), 513);
  EXPECT_EQ(BEDouble(b, e513), 4.0);
  EXPECT_EQ(BEDouble(b, e513 + 8), 3.0);
  EXPECT_GE(BEDouble(b, e513 + 16), static_cast<double>(expectedBlock1 + 14336));

  m_Db.reset();
  auto reader = Open();
  EXPECT_EQ(reader->LinkageBlockCount(), 2);
  std::unique_ptr<qvt_SpaceRepr> again(reader->Space(513, -1));
  EXPECT_EQ(again->Length(), 3);
}

TEST_F(SpaceTest, SmallIncrementsMeanFourAndOneByteTakesAnExtentOfFour) {
  auto zero = NewSpace(0);
  auto minus = NewSpace(-1);
  auto big = NewSpace(100);
  EXPECT_EQ(static_cast<qvt_SpaceReprFile&>(*zero).Increment(), 4);
  EXPECT_EQ(static_cast<qvt_SpaceReprFile&>(*minus).Increment(), 4);
  EXPECT_EQ(static_cast<qvt_SpaceReprFile&>(*big).Increment(), 100);
  WriteBytes(*zero, 1);
  const qvt_LinkageEntry& e = m_Db->LinkageEntry(zero->Handle());
  EXPECT_EQ(e.m_Allocation, 4);
  EXPECT_EQ(e.m_Length, 1);
  EXPECT_EQ(zero->Length(), 1);
  EXPECT_EQ(zero->Allocation(), 4);
  WriteBytes(*big, 1);
  EXPECT_EQ(big->Allocation(), 100);
}

TEST_F(SpaceTest, AlternateGrowthChainsExtentsLoneGrowthStaysInPlace) {
  auto a = NewSpace();
  auto b = NewSpace();
  for (int round = 0; round < 3; ++round) {
    WriteBytes(*a, 4, 'a');
    WriteBytes(*b, 4, 'b');
  }
  EXPECT_EQ(ExtentCount(a->Handle()), 3);
  EXPECT_EQ(ExtentCount(b->Handle()), 3);
  // The chained extents took the next handles, in the order of need.
  EXPECT_EQ(m_Db->LinkageEntry(4).m_Next, 6u);
  EXPECT_EQ(m_Db->LinkageEntry(5).m_Next, 7u);
  EXPECT_EQ(m_Db->LinkageEntry(6).m_Next, 8u);

  auto lone = NewSpace();
  for (int round = 0; round < 5; ++round) WriteBytes(*lone, 4, 'l');
  EXPECT_EQ(ExtentCount(lone->Handle()), 1);
  EXPECT_EQ(lone->Allocation(), 20);

  // The data reads back across the extents, and after a reopen.
  m_Db->Flush();
  a.reset();
  b.reset();
  lone.reset();
  m_Db.reset();
  auto reader = Open();
  std::unique_ptr<qvt_SpaceRepr> ra(reader->Space(4, -1));
  char bytes[12];
  ASSERT_EQ(ra->Read(bytes, 12), 12);
  EXPECT_EQ(std::string(bytes, 12), std::string(12, 'a'));
  std::unique_ptr<qvt_SpaceRepr> rb(reader->Space(5, -1));
  ASSERT_EQ(rb->Read(bytes, 12), 12);
  EXPECT_EQ(std::string(bytes, 12), std::string(12, 'b'));
}

TEST_F(SpaceTest, TruncateToZeroThenRewritingReusesTheExtents) {
  auto a = NewSpace();
  auto b = NewSpace();
  for (int round = 0; round < 3; ++round) {
    WriteBytes(*a, 4, 'a');
    WriteBytes(*b, 4, 'b');
  }
  const utl_FileOffset fileLength = m_Db->File().FileLength();
  const utl_FileOffset allocation = a->Allocation();
  a->Truncate(0);
  EXPECT_EQ(a->Length(), 0);
  EXPECT_EQ(a->Location(), 0);
  EXPECT_EQ(a->Allocation(), allocation);
  WriteBytes(*a, 12, 'z');
  EXPECT_EQ(a->Length(), 12);
  EXPECT_EQ(a->Allocation(), allocation);
  EXPECT_EQ(ExtentCount(a->Handle()), 3);
  EXPECT_EQ(m_Db->File().FileLength(), fileLength);
  a->Seek(0);
  char bytes[12];
  ASSERT_EQ(a->Read(bytes, 12), 12);
  EXPECT_EQ(std::string(bytes, 12), std::string(12, 'z'));

  // Cutting into the middle keeps the first part; a longer length changes nothing.
  a->Truncate(6);
  EXPECT_EQ(a->Length(), 6);
  a->Truncate(100);
  EXPECT_EQ(a->Length(), 6);
}

// Seeks within the length; a failed seek keeps the old place for reading
// and writing; reads stop at the end.
TEST_F(SpaceTest, SeekWithinLengthAndFailedSeeksKeepThePlace) {
  auto a = NewSpace();
  auto b = NewSpace();
  WriteBytes(*a, 4, '1');
  WriteBytes(*b, 4, '-');
  WriteBytes(*a, 6, '2');
  a->Seek(10);
  EXPECT_EQ(a->Location(), 10);
  QVT_EXPECT_THROW_TEXT(a->Seek(11), nex_TextException, SeekMessage("11.000000"));
  EXPECT_EQ(a->Location(), 10);
  QVT_EXPECT_THROW_TEXT(a->Seek(-1), nex_TextException, SeekMessage("-1.000000"));
  char bytes[10];
  EXPECT_EQ(a->Read(bytes, 10), 0);
  a->Seek(5);
  EXPECT_THROW(a->Seek(19), nex_TextException);
  ASSERT_EQ(a->Read(bytes, 10), 5);  // from offset 5, in the second extent, to the end
  EXPECT_EQ(std::string(bytes, 5), "22222");
  EXPECT_EQ(a->Location(), 10);
  a->Seek(2);
  EXPECT_THROW(a->Seek(100), nex_TextException);
  WriteBytes(*a, 1, 'w');
  a->Seek(0);
  ASSERT_EQ(a->Read(bytes, 10), 10);
  EXPECT_EQ(std::string(bytes, 10), "11w1222222");
}

TEST_F(SpaceTest, ExtendChecksItsIncrementAndKeepsFreeRoom) {
  auto s = NewSpace(16);
  QVT_EXPECT_THROW_TEXT(s->Extend(0), nex_TextException,
                        "qvt_SpaceReprFile::Extend: Invalid file extend increment specified.");
  QVT_EXPECT_THROW_TEXT(s->Extend(-3), nex_TextException,
                        "qvt_SpaceReprFile::Extend: Invalid file extend increment specified.");
  WriteBytes(*s, 1);
  const utl_FileOffset fileLength = m_Db->File().FileLength();
  EXPECT_TRUE(s->Extend(15));
  EXPECT_EQ(s->Allocation(), 16);
  EXPECT_EQ(m_Db->File().FileLength(), fileLength);
  s->Extend(16);
  EXPECT_EQ(s->Allocation(), 32);
  EXPECT_EQ(m_Db->File().FileLength(), fileLength + 16);
  EXPECT_EQ(s->Length(), 1);
}

TEST_F(SpaceTest, BadArgumentsAndHandlesAreRefused) {
  auto s = NewSpace();
  char byte = 0;
  const std::string error = "***ERROR: Invalid ";
  QVT_EXPECT_THROW_TEXT(s->Write(nullptr, 1), nex_TextException, error + "data buffer pointer when writing space.");
  QVT_EXPECT_THROW_TEXT(s->Write(&byte, 0), nex_TextException, error + "length when writing space.");
  QVT_EXPECT_THROW_TEXT(s->Read(nullptr, 1), nex_TextException, error + "data buffer pointer when reading space.");
  QVT_EXPECT_THROW_TEXT(s->Read(&byte, 0), nex_TextException, error + "length when reading space.");
  EXPECT_EQ(s->Length(), 0);
  for (qvt_Handle h : {0u, 512u, 100u, 1024u * 512u + 1u}) {
    EXPECT_FALSE(m_Db->IsValidHandle(h)) << h;
    QVT_EXPECT_THROW_TEXT(m_Db->Space(h, -1), nex_TextException, kInvalidDatabase);
  }
  const std::string corrupt = "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + Path();
  for (qvt_Handle h : {100u, 512u, 2048u}) QVT_EXPECT_THROW_TEXT(m_Db->LinkageEntry(h), nex_TextException, corrupt);
}

TEST_F(SpaceTest, TypedValuesReachTheFileBigEndian) {
  auto s = NewSpace();
  s->WriteInt(1);
  s->WriteDouble(2.5);
  s->WriteString("pooled");
  s->Seek(0);
  EXPECT_EQ(s->ReadInt(), 1);
  EXPECT_EQ(s->ReadDouble(), 2.5);
  EXPECT_EQ(s->ReadString(), "pooled");
  const utl_FileOffset where = m_Db->LinkageEntry(s->Handle()).m_Location;
  s.reset();
  m_Db->Flush();
  const std::vector<unsigned char> b = ReadAll(Path());
  EXPECT_EQ(BE32(b, static_cast<std::size_t>(where)), 1u);
  EXPECT_EQ(BEDouble(b, static_cast<std::size_t>(where) + 4), 2.5);
  EXPECT_EQ(BEDouble(b, static_cast<std::size_t>(where) + 12), 4.0);  // the first pooled string
}

TEST_F(SpaceTest, ReaderCannotWriteCreateOrTruncate) {
  auto s = NewSpace();
  WriteBytes(*s, 8);
  s.reset();
  m_Db.reset();
  auto reader = Open();
  std::unique_ptr<qvt_SpaceRepr> r(reader->Space(4, -1));
  char bytes[4] = {};
  QVT_EXPECT_THROW_TEXT(r->Write(bytes, 4), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(r->Extend(4), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(r->Truncate(0), nex_TextException, kReadOnly);
  QVT_EXPECT_THROW_TEXT(reader->Space(-1), nex_TextException, kReadOnly);
  EXPECT_EQ(r->Length(), 8);
  EXPECT_TRUE(r->ReadOnly());
}

TEST_F(SpaceTest, CreatedSpaceKeepsItsHandleAcrossReopen) {
  EXPECT_EQ(NewSpace()->Handle(), 4u);  // created, never written
  m_Db.reset();
  {
    auto writer = Open("test.odb", false);
    EXPECT_TRUE(writer->IsValidHandle(4));
    std::unique_ptr<qvt_SpaceRepr> next(writer->Space(-1));
    EXPECT_EQ(next->Handle(), 5u);
    std::unique_ptr<qvt_SpaceRepr> four(writer->Space(4, -1));
    EXPECT_EQ(four->Length(), 0);
  }
}

TEST_F(SpaceTest, TwoObjectsOnOneHandleShareExtentsKeepOwnLocations) {
  auto s = NewSpace();
  WriteBytes(*s, 8, 'q');
  std::unique_ptr<qvt_SpaceRepr> other(m_Db->Space(s->Handle(), -1));
  EXPECT_EQ(other->Location(), 0);
  EXPECT_EQ(other->Length(), 8);
  char bytes[8];
  ASSERT_EQ(other->Read(bytes, 8), 8);
  EXPECT_EQ(std::string(bytes, 8), std::string(8, 'q'));
  EXPECT_EQ(s->Location(), 8);
}

TEST(FileOffsetCodecTest, DoublesRoundToTheNearestOffset) {
  const omi_Swapper big(EndianBig);
  unsigned char bytes[8];
  auto decode = [&](double value) {
    std::uint64_t raw;
    std::memcpy(&raw, &value, 8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(raw >> (56 - 8 * i));
    utl_FileOffset offset = -7;
    const bool ok = qvt_DecodeFileOffset(bytes, big, &offset);
    return ok ? offset : -7;
  };
  EXPECT_EQ(decode(1023.6), 1024);
  EXPECT_EQ(decode(1023.4), 1023);
  EXPECT_EQ(decode(0.0), 0);
  EXPECT_EQ(decode(-0.3), 0);
  EXPECT_EQ(decode(-2.0), -7);
  EXPECT_EQ(decode(1e300), -7);
  EXPECT_EQ(decode(std::numeric_limits<double>::quiet_NaN()), -7);
  qvt_EncodeFileOffset(bytes, 15360, big);
  EXPECT_EQ(BEDouble(std::vector<unsigned char>(bytes, bytes + 8), 0), 15360.0);
}

}  // namespace
