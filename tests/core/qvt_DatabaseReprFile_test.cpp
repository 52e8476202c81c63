// The database file: header bytes, flush counts, Open's checks in order, and
// what failed opens and creates leave behind.
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

// The header through create, flush and close (the batch tests pin the rest); a
// reader's flush writes nothing, an update's close counts.
TEST_F(DatabaseHeaderTest, HeaderAndFlushCountsByteByByte) {
  auto db = Create("test.odb", "TEST", "results of run 7", 1234567);
  Bytes b = ReadAll(Path());
  ASSERT_GE(b.size(), 1024u);
  std::string header =
      "WOXRTEST" + std::string("\0\0\0\x0c", 4) + "results of run 7" + std::string(996, '\0');
  header.replace(516, 4, std::string("\0\x12\xD6\x87", 4));  // the creation time; flush count 0 at 512
  EXPECT_EQ(Text(b, 0, 1024), header);
  db->Flush();
  EXPECT_EQ(db->GetFlushCount(), 1);
  b = ReadAll(Path());
  EXPECT_EQ(BE32(b, 512), 1u);
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
    EXPECT_EQ(Text(ReadAll(Path(code + ".odb")), 0, 8), "WOXR" + (code + std::string(4, '\0')).substr(0, 4));
  }
  for (const std::string code : {"AB", ""}) EXPECT_NO_THROW(Open("AB.odb", true, code));
  for (const std::string code : {"ABC", "A", "XB"}) wrongMagic(code, "AB.odb");
  for (const std::string code : {"ABCDEF", "ABCDXY"}) EXPECT_NO_THROW(Open("ABCDEF.odb", true, code));
  wrongMagic("ABC", "ABCDEF.odb");
  WriteAll(Path("other.bin"), {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(qvt_DatabaseReprFile::IsMagic(*qvt_File::Open(Path("other.bin"), 0, true).Repr(), ""));
}

// Version 11 has no creation time; a failed open for update writes nothing;
// every shortened file (in strides, then byte by byte through the header) fails.
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

}  // namespace
