// The string pool: record layout, references, one batch per flush, reloading
// in a reader, neutering in place, and damaged records.
#include "qvt_StringManagerFile.h"

#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

using namespace qvt_test;

namespace {

const char kNotAvailable[] = "qvt_StringManagerFile::String - String is not available.";
const char kReadOnly[] = "The output database was opened as read-only. Modification of data is not permitted.";

class StringPoolTest : public DatabaseFixture {
 protected:
  void SetUp() override { m_Db = Create(); }
  qvt_StringManagerFile& Pool() { return m_Db->StringPool(); }
  // The pool's bytes from space offset 0, read through a fresh space.
  std::vector<unsigned char> PoolBytes(qvt_DatabaseReprFile& db) {
    std::unique_ptr<qvt_SpaceRepr> space(db.Space(1, -1));
    std::vector<unsigned char> bytes(static_cast<std::size_t>(space->Length()));
    if (!bytes.empty()) {
      EXPECT_EQ(space->Read(reinterpret_cast<char*>(bytes.data()), static_cast<int>(bytes.size())),
                static_cast<int>(bytes.size()));
    }
    return bytes;
  }
  std::unique_ptr<qvt_DatabaseReprFile> m_Db;
};

// Records are a length and the text padded to four bytes, written at the
// flush; the empty string takes four bytes holding zero; a string asked
// for twice is one record; offsets that start no record are refused.
TEST_F(StringPoolTest, RecordsAndReferences) {
  QVT_EXPECT_THROW_TEXT(Pool().String(4), nex_TextException, kNotAvailable);
  EXPECT_EQ(Pool().StringOffset("abc"), 4);
  EXPECT_EQ(Pool().StringOffset("next"), 12);
  EXPECT_EQ(Pool().StringOffset(""), 20);
  EXPECT_EQ(Pool().StringOffset("next"), 12);
  EXPECT_EQ(Pool().StringCount(), 3);
  EXPECT_EQ(Pool().KnownEnd(), 24);
  EXPECT_EQ(PoolBytes(*m_Db).size(), 4u);  // nothing written before the flush
  m_Db->Flush();
  const std::vector<unsigned char> expected = {0xAA, 0xFF, 0xBB, 0xEE, 0, 0, 0, 3, 'a', 'b', 'c', 0,
                                               0, 0, 0, 4, 'n', 'e', 'x', 't', 0, 0, 0, 0};
  EXPECT_EQ(PoolBytes(*m_Db), expected);
  EXPECT_EQ(Pool().StringOffset("abc"), 4);
  EXPECT_EQ(Pool().String(20), "");
  EXPECT_EQ(Pool().String(4), "abc");
  for (const utl_FileOffset bad : {5, -1, 24}) {
    QVT_EXPECT_THROW_TEXT(Pool().String(bad), nex_TextException, kNotAvailable);
  }
}

TEST_F(StringPoolTest, StringsSurviveReopenWithTheirReferences) {
  std::vector<std::string> texts;
  std::vector<utl_FileOffset> refs;
  for (int i = 0; i < 300; ++i) {
    texts.push_back("string number " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), '*'));
    refs.push_back(Pool().StringOffset(texts.back()));
    if (i % 100 == 99) m_Db->Flush();
  }
  m_Db.reset();
  auto reader = Open();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(reader->StringPool().String(refs[i]), texts[i]);
    EXPECT_EQ(reader->StringPool().StringOffset(texts[i]), refs[i]);
  }
  EXPECT_EQ(reader->StringPool().StringCount(), 300);
}

TEST_F(StringPoolTest, ReferencesAreDoublesInExternalOrder) {
  const cow_String in[3] = {"one", "two", "one"};
  unsigned char external[24];
  Pool().ExternalizeStrings(reinterpret_cast<char*>(external), in, 3);
  const std::vector<unsigned char> bytes(external, external + 24);
  EXPECT_EQ(BEDouble(bytes, 0), 4.0);
  EXPECT_EQ(BEDouble(bytes, 8), 12.0);
  EXPECT_EQ(BEDouble(bytes, 16), 4.0);
  cow_String out[3];
  Pool().InternalizeStrings(reinterpret_cast<const char*>(external), out, 3);
  EXPECT_EQ(out[0], "one");
  EXPECT_EQ(out[1], "two");
  EXPECT_EQ(out[2], "one");
  Pool().InternalizeStrings(reinterpret_cast<const char*>(external), out, 0);
  EXPECT_EQ(Pool().ExternalSize(), 8);
}

TEST_F(StringPoolTest, NeuterStringKeepsTheRecordSize) {
  const cow_String texts[2] = {"abcdef", "after"};
  unsigned char refs[16];
  Pool().ExternalizeStrings(reinterpret_cast<char*>(refs), texts, 2);
  char* first = reinterpret_cast<char*>(refs);

  Pool().NeuterString(first, "XYZXYZXYZ");  // longer: cut to the old length
  std::vector<unsigned char> b = PoolBytes(*m_Db);
  EXPECT_EQ(BE32(b, 4), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 8, 6), "XYZXYZ");

  Pool().NeuterString(first, "ab");  // shorter: zeros behind it
  b = PoolBytes(*m_Db);
  EXPECT_EQ(BE32(b, 4), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 8, 8), std::string("ab\0\0\0\0\0\0", 8));

  Pool().NeuterString(first, "");  // empty: length 0 and zeros
  b = PoolBytes(*m_Db);
  EXPECT_EQ(BE32(b, 4), 0u);
  for (std::size_t i = 8; i < 16; ++i) EXPECT_EQ(b[i], 0);
  // This process keeps the old text; a new one reads the neutered record
  // as empty strings and still finds the record behind it.
  EXPECT_EQ(Pool().String(4), "abcdef");
  m_Db.reset();
  auto reader = Open();
  EXPECT_EQ(reader->StringPool().String(4), "");
  EXPECT_EQ(reader->StringPool().String(8), "");
  EXPECT_EQ(reader->StringPool().String(16), "after");
}

TEST_F(StringPoolTest, NeuterStringRefusesAReferenceThatIsNoRecord) {
  Pool().StringOffset("abcdef");
  unsigned char ref[8];
  qvt_EncodeFileOffset(ref, 6, omi_Swapper(EndianBig));
  QVT_EXPECT_THROW_TEXT(Pool().NeuterString(reinterpret_cast<char*>(ref), "x"), nex_TextException, kNotAvailable);
  EXPECT_EQ(Pool().String(4), "abcdef");
}

TEST_F(StringPoolTest, ReaderAskingForANewStringCannotFlushIt) {
  Pool().StringOffset("stored");
  m_Db.reset();
  auto reader = Open();
  EXPECT_EQ(reader->StringPool().StringOffset("stored"), 4);
  const utl_FileOffset fresh = reader->StringPool().StringOffset("fresh");
  EXPECT_EQ(fresh, 16);
  QVT_EXPECT_THROW_TEXT(reader->Flush(), nex_TextException, kReadOnly);
  // Closing cannot throw; it says on standard error what it could not do.
  StderrCapture closing;
  reader.reset();
  EXPECT_EQ(closing.Stop(), "*** WARNING: closing database \"" + Path() + "\" (flush): " + kReadOnly + "\n");
}

TEST_F(StringPoolTest, ReaderFindsFlushedStringsAfterOneReload) {
  Pool().StringOffset("first");
  m_Db->Flush();
  auto reader = Open();
  EXPECT_EQ(reader->StringPool().String(4), "first");
  const utl_FileOffset later = Pool().StringOffset("later");
  QVT_EXPECT_THROW_TEXT(reader->StringPool().String(later), nex_TextException, kNotAvailable);
  m_Db->Flush();
  // Not before the reader has refreshed its linkage...
  QVT_EXPECT_THROW_TEXT(reader->StringPool().String(later), nex_TextException, kNotAvailable);
  EXPECT_TRUE(reader->Snap());
  EXPECT_FALSE(reader->Snap());
  // ...then with one reload.
  EXPECT_EQ(reader->StringPool().String(later), "later");
}

// ---- Damaged pools ----

class DamagedPoolTest : public DatabaseFixture {
 protected:
  // A closed database whose pool holds "abc" at 4 and "defgh" at 12, with
  // the length word of the record at poolOffset made length.
  void MakePool(std::int64_t poolOffset, std::uint32_t length) {
    {
      auto db = Create();
      db->StringPool().StringOffset("abc");
      db->StringPool().StringOffset("defgh");
    }
    std::vector<unsigned char> bytes = ReadAll(Path());
    PutBE32(bytes, FileOffsetOf(bytes, 1, poolOffset), length);
    WriteAll(Path(), bytes);
  }
  std::string Damaged(int from) const {
    return "qvt_StringManagerFile::String - String pool is damaged from offset " + std::to_string(from) + ".";
  }
};

TEST_F(DamagedPoolTest, BadLengthsStopTheScanAndAreReportedWhenAskedFor) {
  MakePool(12, 0xFFFFFFFBu);  // "defgh" gets length -5
  auto db = Open();
  EXPECT_EQ(db->StringPool().String(4), "abc");
  QVT_EXPECT_THROW_TEXT(db->StringPool().String(12), nex_TextException, Damaged(12));
  QVT_EXPECT_THROW_TEXT(db->StringPool().String(16), nex_TextException, Damaged(12));
  QVT_EXPECT_THROW_TEXT(db->StringPool().String(40), nex_TextException, kNotAvailable);
  db.reset();
  MakePool(4, 0x7FFFFFFFu);  // a length running past the data
  db = Open();
  QVT_EXPECT_THROW_TEXT(db->StringPool().String(4), nex_TextException, Damaged(4));
  EXPECT_EQ(db->StringPool().StringCount(), 0);
}

TEST_F(DamagedPoolTest, WriterOnADamagedPoolKeepsWorkingReadersSeeTheDamage) {
  MakePool(12, 0xFFFFFFFBu);
  utl_FileOffset added;
  {
    auto writer = Open("test.odb", false);
    // New records go behind everything the space holds, never into it.
    added = writer->StringPool().StringOffset("added");
    EXPECT_EQ(added, 24);
    writer->Flush();
    EXPECT_EQ(writer->StringPool().String(added), "added");
  }
  // A fresh scan cannot find record starts behind the damage.
  auto reader = Open();
  EXPECT_EQ(reader->StringPool().String(4), "abc");
  QVT_EXPECT_THROW_TEXT(reader->StringPool().String(added), nex_TextException, Damaged(12));
}

}  // namespace
