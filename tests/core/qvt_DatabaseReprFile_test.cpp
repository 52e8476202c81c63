// The database file: the header byte by byte, the flush count, every check of
// Open in its order, and what failed opens and creates leave behind.
#include "qvt_DatabaseReprFile.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvt_DatabaseFixture.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

const char kCorruptSizeRecord[] =
    "***ERROR: The KELVOR database file is corrupt. If this file was transferred from another machine "
    "using FTP or equivalent, ensure that the file was copied using the binary mode instead of ASCII mode.";

std::string NotADatabase(const std::string& path) {
  return "***ERROR: \"" + path + "\"  is not an KELVOR database file.";
}
std::string WrongMagic(const std::string& path) {
  return "***ERROR: Incorrect magic number in file: \"" + path + "\"  .";
}
std::string OldFormat(const std::string& path) {
  return "***ERROR: \"" + path +
         "\"\nis an old format KELVOR database file.\ndatabase files generated with an KELVOR analysis \n"
         "version prior to 6.1-1 cannot be opened with \nthe current version of Kelvor/Viewer. \n"
         "Please rerun the analysis using the current \nKELVOR analysis version.";
}

void PutBE32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value) {
  bytes.at(offset) = static_cast<unsigned char>(value >> 24);
  bytes.at(offset + 1) = static_cast<unsigned char>(value >> 16);
  bytes.at(offset + 2) = static_cast<unsigned char>(value >> 8);
  bytes.at(offset + 3) = static_cast<unsigned char>(value);
}

std::string Text(const std::vector<unsigned char>& bytes, std::size_t offset, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, count);
}

class DatabaseHeaderTest : public DatabaseFixture {
 protected:
  // A closed database holding one string, ready to be damaged by the test.
  std::vector<unsigned char> MakeClosedDatabase(const std::string& typeCode = "TEST") {
    auto db = Create("test.odb", typeCode);
    db->StringPool().StringOffset("abc");
    db.reset();
    return ReadAll(Path());
  }
  void ExpectOpenFails(const std::string& typeCode, const std::string& text) {
    QVT_EXPECT_THROW_TEXT(Open("test.odb", true, typeCode), nex_TextException, text);
  }
};

TEST_F(DatabaseHeaderTest, NewDatabaseHeaderIsLaidOutFieldByField) {
  auto db = Create("test.odb", "TEST", "results of run 7", 1234567);
  const std::vector<unsigned char> b = ReadAll(Path());
  ASSERT_GE(b.size(), 1024u);
  EXPECT_EQ(Text(b, 0, 4), "WOXR");
  EXPECT_EQ(Text(b, 4, 4), "TEST");
  EXPECT_EQ(BE32(b, 8), 12u);
  EXPECT_EQ(Text(b, 12, 16), "results of run 7");
  for (std::size_t i = 28; i < 496; ++i) ASSERT_EQ(b[i], 0) << "description padding at " << i;
  EXPECT_EQ(BE32(b, 496), 0u);
  EXPECT_EQ(BE32(b, 512), 0u);
  EXPECT_EQ(BE32(b, 516), 1234567u);
  for (std::size_t i = 520; i < 1024; ++i) ASSERT_EQ(b[i], 0) << "unused header byte " << i;
  EXPECT_EQ(db->GetFlushCount(), 0);
  EXPECT_EQ(db->Description(), "results of run 7");
}

TEST_F(DatabaseHeaderTest, ShortTypeCodeLeavesZerosAndLongOneIsCutToFour) {
  Create("short.odb", "AB").reset();
  std::vector<unsigned char> b = ReadAll(Path("short.odb"));
  EXPECT_EQ(Text(b, 0, 8), std::string("WOXRAB\0\0", 8));
  Create("long.odb", "ABCDEF").reset();
  b = ReadAll(Path("long.odb"));
  EXPECT_EQ(Text(b, 0, 8), "WOXRABCD");
  Create("none.odb", "").reset();
  b = ReadAll(Path("none.odb"));
  EXPECT_EQ(Text(b, 0, 8), std::string("WOXR\0\0\0\0", 8));
}

TEST_F(DatabaseHeaderTest, FirstFlushWritesLinkageBlockZeroAndThePools) {
  auto db = Create();
  db->Flush();
  const std::vector<unsigned char> b = ReadAll(Path());
  // Block 0 at 1024; the pools' extents right behind it, at 15360.
  const std::size_t block0 = 1024;
  const std::size_t firstExtent = 1024 + 14336;
  for (std::size_t i = 0; i < 28; ++i) EXPECT_EQ(b[block0 + i], 0) << "entry 0 byte " << i;
  auto entry = [&](int slot) { return block0 + static_cast<std::size_t>(slot) * 28; };
  // Handle 1: the string pool, 4 bytes holding its marker.
  EXPECT_EQ(BEDouble(b, entry(1)), 4.0);
  EXPECT_EQ(BEDouble(b, entry(1) + 8), 4.0);
  EXPECT_EQ(BEDouble(b, entry(1) + 16), static_cast<double>(firstExtent));
  EXPECT_EQ(BE32(b, entry(1) + 24), 0u);
  // Handle 2: taken, never placed.
  EXPECT_EQ(BEDouble(b, entry(2)), 0.0);
  EXPECT_EQ(BEDouble(b, entry(2) + 8), 0.0);
  EXPECT_EQ(BEDouble(b, entry(2) + 16), 1.0);
  // Handle 3: the metadata pool behind the string pool.
  EXPECT_EQ(BEDouble(b, entry(3)), 4.0);
  EXPECT_EQ(BEDouble(b, entry(3) + 8), 4.0);
  EXPECT_EQ(BEDouble(b, entry(3) + 16), static_cast<double>(firstExtent + 4));
  // Slot 4 is free.
  for (std::size_t i = 0; i < 28; ++i) EXPECT_EQ(b[entry(4) + i], 0);
  EXPECT_EQ(BE32(b, firstExtent), 0xAAFFBBEEu);
  EXPECT_EQ(BE32(b, firstExtent + 4), 0xFAAAEBBBu);
}

TEST_F(DatabaseHeaderTest, FlushCountGoesZeroOneTwoAndFileIsTrimmedAtClose) {
  auto db = Create();
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 0u);
  db->Flush();
  EXPECT_EQ(db->GetFlushCount(), 1);
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 1u);
  db.reset();
  const std::vector<unsigned char> b = ReadAll(Path());
  EXPECT_EQ(BE32(b, 512), 2u);
  // Trimmed to the logical length, and the size record says so.
  EXPECT_EQ(b.size(), 1024u + 14336u + 8u);
  EXPECT_EQ(BE32(b, 500), 0u);
  EXPECT_EQ(BEDouble(b, 504), static_cast<double>(b.size()));
  EXPECT_EQ(BE32(b, 496), 0u);
}

TEST_F(DatabaseHeaderTest, ReopensWithSameHeaderAndPools) {
  Create("test.odb", "TEST", "kept", 77).reset();
  auto db = Open("test.odb", true, "TEST");
  EXPECT_EQ(db->GetFlushCount(), 1);  // the flush of the close
  EXPECT_EQ(db->Description(), "kept");
  EXPECT_TRUE(db->ReadOnly());
  EXPECT_EQ(db->RootTableHandle(), 4u);
  EXPECT_EQ(db->RootTableHandle2(), 5u);
  EXPECT_EQ(db->FileName(), Path());
  EXPECT_EQ(qvt_DatabaseReprFile::GetCreationTime(db->File()), 77);
}

TEST_F(DatabaseHeaderTest, EmptyDescriptionReadsBackEmpty) {
  Create("test.odb", "TEST", "").reset();
  const std::vector<unsigned char> b = ReadAll(Path());
  for (std::size_t i = 12; i < 496; ++i) ASSERT_EQ(b[i], 0);
  EXPECT_EQ(Open()->Description(), "");
}

TEST_F(DatabaseHeaderTest, ReadOnlyFlushWritesNothing) {
  Create().reset();
  const std::vector<unsigned char> before = ReadAll(Path());
  {
    auto db = Open();
    db->Flush();
    EXPECT_EQ(db->GetFlushCount(), 1);
    EXPECT_FALSE(db->Snap());
  }
  EXPECT_EQ(ReadAll(Path()), before);
}

TEST_F(DatabaseHeaderTest, WriterSnapAnswersFalse) {
  auto db = Create();
  db->Flush();
  EXPECT_FALSE(db->Snap());
}

TEST_F(DatabaseHeaderTest, SetCreationTimeWritesOffset516AndIsRefusedOnReader) {
  {
    auto db = Create();
    db->SetCreationTime(4242);
  }
  EXPECT_EQ(BE32(ReadAll(Path()), 516), 4242u);
  auto reader = Open();
  EXPECT_THROW(reader->SetCreationTime(1), qvt_FileReadOnlyExc);
  EXPECT_EQ(BE32(ReadAll(Path()), 516), 4242u);
}

TEST_F(DatabaseHeaderTest, UpdateReopenRaisesFlushCountAtClose) {
  Create().reset();
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 1u);
  Open("test.odb", false).reset();
  EXPECT_EQ(BE32(ReadAll(Path()), 512), 2u);
}

// ---- Open: every check, in order ----

TEST_F(DatabaseHeaderTest, ShortAndForeignFilesAreNotDatabases) {
  for (const std::string& content : {std::string(), std::string("WOX"), std::string("WOXR"),
                                     std::string("ABCDEFGHIJKLMNOP")}) {
    WriteAll(Path(), std::vector<unsigned char>(content.begin(), content.end()));
    if (content == "WOXR") {
      // The signature is there; the version cannot be read.
      ExpectOpenFails("", "***ERROR: Unexpected End Of File.");
    } else {
      ExpectOpenFails("", NotADatabase(Path()));
    }
  }
}

TEST_F(DatabaseHeaderTest, OldFormatIsReportedBeforeSignature) {
  std::vector<unsigned char> b = MakeClosedDatabase();
  std::memcpy(b.data(), "WOXDFM", 6);
  WriteAll(Path(), b);
  ExpectOpenFails("", OldFormat(Path()));
  ExpectOpenFails("ZZZZ", OldFormat(Path()));
  WriteAll(Path(), std::vector<unsigned char>{'W', 'O', 'X', 'D', 'F', 'M'});
  ExpectOpenFails("", OldFormat(Path()));
}

TEST_F(DatabaseHeaderTest, TypeCodeRules) {
  Create("test.odb", "ABC").reset();
  EXPECT_NO_THROW(Open("test.odb", true, "ABC"));
  EXPECT_NO_THROW(Open("test.odb", true, ""));
  ExpectOpenFails("ABCD", WrongMagic(Path()));
  ExpectOpenFails("AB", WrongMagic(Path()));
  ExpectOpenFails("XBC", WrongMagic(Path()));

  Create("six.odb", "ABCDEF").reset();
  EXPECT_NO_THROW(Open("six.odb", true, "ABCDEF"));
  EXPECT_NO_THROW(Open("six.odb", true, "ABCDXY"));
  QVT_EXPECT_THROW_TEXT(Open("six.odb", true, "ABC"), nex_TextException, WrongMagic(Path("six.odb")));

  const qvt_File file = qvt_File::Open(Path(), 0, true);
  EXPECT_TRUE(qvt_DatabaseReprFile::IsMagic(*file.Repr(), "ABC"));
  EXPECT_TRUE(qvt_DatabaseReprFile::IsMagic(*file.Repr(), ""));
  EXPECT_FALSE(qvt_DatabaseReprFile::IsMagic(*file.Repr(), "ABCD"));
  WriteAll(Path("other.bin"), {'h', 'e', 'l', 'l', 'o'});
  const qvt_File other = qvt_File::Open(Path("other.bin"), 0, true);
  EXPECT_FALSE(qvt_DatabaseReprFile::IsMagic(*other.Repr(), ""));
}

TEST_F(DatabaseHeaderTest, VersionBelowElevenIsRefusedElevenToThirteenOpen) {
  std::vector<unsigned char> b = MakeClosedDatabase();
  PutBE32(b, 8, 10);
  WriteAll(Path(), b);
  ExpectOpenFails("", "***ERROR: Wrong KELVOR database file version, 10;  Expected version 12.");
  for (std::uint32_t version : {11u, 12u, 13u}) {
    PutBE32(b, 8, version);
    WriteAll(Path(), b);
    EXPECT_NO_THROW(Open()) << "version " << version;
  }
  PutBE32(b, 8, 11);
  WriteAll(Path(), b);
  const qvt_File file = qvt_File::Open(Path(), 0, true);
  EXPECT_EQ(qvt_DatabaseReprFile::GetCreationTime(*file.Repr()), 0);
}

TEST_F(DatabaseHeaderTest, ChecksRunInOrder) {
  std::vector<unsigned char> b = MakeClosedDatabase("TEST");
  // Wrong type code and wrong version: the type code is checked first.
  PutBE32(b, 8, 3);
  WriteAll(Path(), b);
  ExpectOpenFails("ZZZZ", WrongMagic(Path()));
  // Wrong version and a wrong size record: the version comes first.
  b.push_back(0);
  WriteAll(Path(), b);
  ExpectOpenFails("TEST", "***ERROR: Wrong KELVOR database file version, 3;  Expected version 12.");
  // Only the size record wrong: the file's own failure.
  PutBE32(b, 8, 12);
  WriteAll(Path(), b);
  ExpectOpenFails("TEST", kCorruptSizeRecord);
}

TEST_F(DatabaseHeaderTest, MisplacedPoolsAreReported) {
  std::vector<unsigned char> b = MakeClosedDatabase();
  const std::size_t strings = 1024 + 14336;
  PutBE32(b, strings, 0x12345678);
  WriteAll(Path(), b);
  ExpectOpenFails("", "***ERROR: String space object is not where it belongs.");
  PutBE32(b, strings, 0xAAFFBBEE);
  PutBE32(b, strings + 4, 0x12345678);
  WriteAll(Path(), b);
  ExpectOpenFails("", "***ERROR: Metadata table object is not where it belongs.");
}

TEST_F(DatabaseHeaderTest, PoolWithoutLinkageEntryMeansInvalidDatabase) {
  std::vector<unsigned char> b = MakeClosedDatabase();
  // Free the string pool's slot.
  std::memset(b.data() + 1024 + 28, 0, 28);
  WriteAll(Path(), b);
  ExpectOpenFails("",
                  "***ERROR: Database is not valid. This may indicate that the database has been corrupted.");
}

// ---- Failed opens and creates ----

TEST_F(DatabaseHeaderTest, FailedOpenForUpdateWritesNothing) {
  std::vector<unsigned char> b = MakeClosedDatabase();
  PutBE32(b, 1024 + 14336 + 4, 0x01020304);  // metadata marker: fails at the last step
  WriteAll(Path(), b);
  QVT_EXPECT_THROW_TEXT(Open("test.odb", false), nex_TextException,
                        "***ERROR: Metadata table object is not where it belongs.");
  EXPECT_EQ(ReadAll(Path()), b);
}

TEST_F(DatabaseHeaderTest, CreateOnReadOnlyFileFailsAndLeavesItAlone) {
  Create().reset();
  const std::vector<unsigned char> before = ReadAll(Path());
  qvt_File file = qvt_File::Open(Path(), 0, true);
  qvt_DatabaseReprFile db;
  EXPECT_THROW(db.Create(file, "X", "", 0), nex_Exception);
  EXPECT_EQ(ReadAll(Path()), before);
}

TEST_F(DatabaseHeaderTest, CreateRefusesAFileThatHoldsData) {
  Create().reset();
  const std::vector<unsigned char> before = ReadAll(Path());
  {
    qvt_File file = qvt_File::Open(Path(), 1, false);
    qvt_DatabaseReprFile db;
    QVT_EXPECT_THROW_TEXT(db.Create(file, "X", "", 0), nex_TextException,
                          "***ERROR: A database can only be created in an empty file: \"" + Path() + "\".");
  }
  EXPECT_EQ(ReadAll(Path()), before);
  EXPECT_NO_THROW(Open());
}

TEST_F(DatabaseHeaderTest, OneDatabaseObjectOpensOneFileOnce) {
  qvt_DatabaseReprFile empty;
  QVT_EXPECT_THROW_TEXT(empty.Open(qvt_File(), ""), nex_AssertException, "file.Repr() != nullptr");
  Create().reset();
  qvt_DatabaseReprFile db;
  db.Open(qvt_File::Open(Path(), 0, true), "");
  QVT_EXPECT_THROW_TEXT(db.Open(qvt_File::Open(Path(), 0, true), ""), nex_AssertException,
                        "!m_Ready && m_Blocks.empty()");
}

TEST_F(DatabaseHeaderTest, EveryTruncationOfTheFileFailsCleanly) {
  const std::vector<unsigned char> whole = MakeClosedDatabase();
  EXPECT_NO_THROW(Open());
  // Shortened step by step from the end: in strides through the pools and
  // block 0, then every length through the header.
  std::int64_t length = static_cast<std::int64_t>(whole.size());
  while (length > 0) {
    length -= length > 1100 ? 97 : 1;
    TruncateTo(Path(), length);
    EXPECT_THROW(Open(), nex_Exception) << "length " << length;
  }
}

}  // namespace
