// The database file: the header byte by byte, the flush count, every check of
// Open in its order, and what failed opens and creates leave behind.
#include "qvt_DatabaseReprFile.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qvt_DatabaseFixture.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_FileReprLocal.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

using namespace qvt_test;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kPools = 1024 + 14336;  // the first extent, behind linkage block 0

std::string Text(const Bytes& bytes, std::size_t offset, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, count);
}

// A reader's file that lets another party act once, before its n-th read.
class InterleavedFile : public qvt_FileReprLocal {
 public:
  explicit InterleavedFile(const std::string& path) : qvt_FileReprLocal(path, 0, true) {}
  void Before(int read, std::function<void()> step) {
    m_Countdown = read;
    m_Step = std::move(step);
  }
  int Read(char* buffer, int count) override {
    if (m_Step && --m_Countdown == 0) std::exchange(m_Step, nullptr)();
    return qvt_FileReprLocal::Read(buffer, count);
  }

 private:
  int m_Countdown = 0;
  std::function<void()> m_Step;
};

class DatabaseHeaderTest : public DatabaseFixture {
 protected:
  // Opening name with typeCode fails: the type code is not the file's.
  void ExpectWrongMagic(const std::string& typeCode, const std::string& name) {
    QVT_EXPECT_THROW_TEXT(Open(name, true, typeCode), nex_TextException,
                          "***ERROR: Incorrect magic number in file: \"" + Path(name) + "\"  .");
  }
};

// The header byte by byte through create, flush and close (the linkage and
// pools behind it are in the files whose checksums the batch tests pin); a
// reader's flush writes nothing, an update's close counts.
TEST_F(DatabaseHeaderTest, HeaderAndFlushCountsByteByByte) {
  auto db = Create("test.odb", "TEST", "results of run 7", 1234567);
  Bytes b = ReadAll(Path());
  ASSERT_GE(b.size(), 1024u);
  EXPECT_EQ(Text(b, 0, 28), "WOXRTEST" + std::string("\0\0\0\x0c", 4) + "results of run 7");
  EXPECT_EQ(Text(b, 28, 468), std::string(468, '\0'));
  EXPECT_EQ((std::vector<std::uint32_t>{BE32(b, 496), BE32(b, 512), BE32(b, 516)}),
            (std::vector<std::uint32_t>{0, 0, 1234567}));
  EXPECT_EQ(Text(b, 520, 504), std::string(504, '\0'));
  db->Flush();
  EXPECT_EQ(db->GetFlushCount(), 1);
  b = ReadAll(Path());
  EXPECT_EQ(BE32(b, 512), 1u);
  db.reset();  // the close flushes again and trims to the logical length
  b = ReadAll(Path());
  EXPECT_EQ(BE32(b, 512), 2u);
  EXPECT_EQ(b.size(), kPools + 8u);
  EXPECT_EQ(BE32(b, 500), 0u);
  EXPECT_EQ(BEDouble(b, 504), static_cast<double>(b.size()));
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

// Type codes are cut or padded to four; opening compares the first four
// of the asked code with the stored one, an empty code matching any.
TEST_F(DatabaseHeaderTest, TypeCodeRules) {
  for (const std::string code : {"AB", "ABCDEF", ""}) {
    Create(code + ".odb", code).reset();
    EXPECT_EQ(Text(ReadAll(Path(code + ".odb")), 0, 8), "WOXR" + (code + std::string(4, '\0')).substr(0, 4));
  }
  for (const std::string code : {"AB", ""}) EXPECT_NO_THROW(Open("AB.odb", true, code));
  for (const std::string code : {"ABC", "A", "XB"}) ExpectWrongMagic(code, "AB.odb");
  for (const std::string code : {"ABCDEF", "ABCDXY"}) EXPECT_NO_THROW(Open("ABCDEF.odb", true, code));
  ExpectWrongMagic("ABC", "ABCDEF.odb");
  WriteAll(Path("other.bin"), {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(qvt_DatabaseReprFile::IsMagic(*qvt_File::Open(Path("other.bin"), 0, true).Repr(), ""));
}

// The checks of Open in their order: the damaged files of tests/corpus.
// Version 11 has no creation time; a failed open for update writes nothing;
// shortened from the end, in strides through the pools and block 0, then by
// every length through the header, the file fails cleanly.
TEST_F(DatabaseHeaderTest, FailedOpensWriteNothingAndShortFilesFail) {
  EXPECT_EQ(qvt_DatabaseReprFile::GetCreationTime(
                *qvt_File::Open(QVT_TEST_CORPUS_DIR "/header-version-11.odb", 0, true).Repr()),
            0);
  Create()->StringPool().StringOffset("abc");
  const Bytes good = ReadAll(Path());
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

TEST_F(DatabaseHeaderTest, CreateRefusesReadOnlyAndNonEmptyFilesAndLeavesThemAlone) {
  Create().reset();
  const Bytes before = ReadAll(Path());
  EXPECT_THROW(qvt_DatabaseReprFile().Create(qvt_File::Open(Path(), 0, true), "X", "", 0), nex_Exception);
  QVT_EXPECT_THROW_TEXT(qvt_DatabaseReprFile().Create(qvt_File::Open(Path(), 1, false), "X", "", 0),
                        nex_TextException,
                        "***ERROR: A database can only be created in an empty file: \"" + Path() + "\".");
  EXPECT_EQ(ReadAll(Path()), before);
  QVT_EXPECT_THROW_TEXT(qvt_DatabaseReprFile().Open(qvt_File(), ""), nex_AssertException,
                        "file.Repr() != nullptr");
  qvt_DatabaseReprFile db;
  db.Open(qvt_File::Open(Path(), 0, true), "");
  QVT_EXPECT_THROW_TEXT(db.Open(qvt_File::Open(Path(), 0, true), ""), nex_AssertException,
                        "!m_Ready && m_Blocks.empty()");
}

// A writer that starts a transaction, or ends a flush, while a reader reads
// the linkage may leave it half old, half new: that refresh takes nothing
// up, and a later one takes up the whole flush.
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
  for (const std::function<void()>& during : std::vector<std::function<void()>>{
           [&] { writer->ReaderSemaphoreSet(); }, [&] { flush(); }}) {
    flush();
    file->Before(2, during);  // the first read after the flush count's
    EXPECT_FALSE(reader.Snap());
    writer->ReaderSemaphoreClear();
    EXPECT_EQ(reader.FileStatus(), qvt_FileStatus::Updated);
    EXPECT_TRUE(reader.Snap());
    EXPECT_EQ(reader.GetFlushCount(), writer->GetFlushCount());
  }
}

}  // namespace
