// The string pool: records, references, flushes, readers, neutering, damage.
#include "qvt_StringManagerFile.h"

#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

using namespace qvt_test;

namespace {

const char kNotAvailable[] = "qvt_StringManagerFile::String - String is not available.";

class StringPoolTest : public DatabaseFixture {
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
  std::unique_ptr<qvt_DatabaseReprFile> m_Db;
};

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
  const std::pair<const char*, std::string> cases[] = {
      {"XYZXYZXYZ", std::string("\0\0\0\6XYZXYZ\0\0", 12)},
      {"ab", std::string("\0\0\0\2ab\0\0\0\0\0\0", 12)},
      {"", std::string(12, '\0')},
  };
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
  std::vector<unsigned char> bytes;
  for (const auto& damage : {std::make_pair(4, 0x7FFFFFFFu), std::make_pair(12, 0xFFFFFFFBu)}) {
    bytes = sound;
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
