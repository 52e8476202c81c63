// The local file and its handle: opens and refusals with exact texts, sharing and Copy,
// growth and trimming, the size record, and the status check on written headers.
#include "qvt_File.h"

#include <exception>
#include <filesystem>
#include <limits>

#include "qvt_ChildProcess.h"
#include "qvt_DBStatusCheckerFile.h"
#include "qvt_DBStatusCheckerFileLocal.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

using Bytes = std::vector<unsigned char>;
using State = std::vector<long long>;

const char kLog[] = "KVR_QVT_LOGIFY";
const char kCorrupt[] =
    "***ERROR: The KELVOR database file is corrupt. If this file was transferred from another machine using "
    "FTP or equivalent, ensure that the file was copied using the binary mode instead of ASCII mode.";

class LocalFileTest : public ::testing::Test {
 protected:
  std::string Name(const char* leaf = "a.odb") const { return m_Dir.File(leaf); }
  void Make(const char* leaf, const std::string& text) {
    WriteAll(Name(leaf), Bytes(text.begin(), text.end()));
  }
  qvt_File Create(const char* leaf = "a.odb") { return qvt_File::Open(Name(leaf), 2, false); }
  qvt_File OpenRead() { return qvt_File::Open(Name(), 0, true); }
  qvt_File OpenUpdate() { return qvt_File::Open(Name(), 1, false); }
  // Length, file length, allocation, location, and the size on disk.
  State StateOf(qvt_FileRepr* r) const {
    return {r->Length(), r->FileLength(), r->Allocation(), r->Location(), FileSize(Name())};
  }
  // Checks the size record at 500 from offset 33, which it must keep.
  void ExpectRecord(bool sound) {
    qvt_File f = OpenRead();
    f.Repr()->Seek(33);
    if (sound) f.Repr()->CheckSizeRecord(500);
    if (!sound) QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
    EXPECT_EQ(f.Repr()->Location(), 33);
  }
  ScratchDir m_Dir;
};

// In a child that is not root (root passes every permission check) and may grow files to 1.5 MB.
TEST_F(LocalFileTest, RefusalsOfTheOperatingSystemAreReportedWithTheirTexts) {
  Make("locked.odb", "data");
  std::filesystem::permissions(m_Dir.Path(), std::filesystem::perms::all);
  std::filesystem::permissions(Name("locked.odb"), std::filesystem::perms::none);
  const std::string name = Name("locked.odb"), grown = Name();
  const ChildResult r = RunChild([&] {
    if (!DropRootPrivileges() || !LimitFileSize(1500000)) return 2;
    qvt_File f = qvt_File::Open(grown, 2, false);
    if (!f.Repr()->ExtendFile(1)) return 3;
    const std::function<void()> opens[] = {[&] { qvt_File::Open(name, 0, true); },
                                           [&] { qvt_File::Open(name, cow_String()); },
                                           [&] { qvt_File::Open(name, 1, false); }};
    for (const auto& open : opens) {
      try {
        open();
        return 4;
      } catch (const qvt_FileException& e) {
        std::printf("%s\n", e.AsString().c_str());
      }
    }
    try {
      f.Repr()->ExtendFile(1048576);
      return 5;
    } catch (const nex_TextException& e) {
      std::printf("%s\n", e.AsString().c_str());
    }
    std::printf("%lld %lld\n", static_cast<long long>(f.Repr()->Length()),
                static_cast<long long>(f.Repr()->Allocation()));
    return 0;
  });
  ASSERT_TRUE(r.Succeeded()) << r.exitCode << r.err;
  EXPECT_EQ(r.out, "*** ERROR: No permission to read: " + name + ".\n" +
                       "*** ERROR: No permission to read: " + name + ".\n" +
                       "*** ERROR: Attempt to write to read-only file:\n  " + name + "\n" +
                       "***ERROR: resize failed for file " + grown + ": File too large\n1 1048576\n");
  EXPECT_EQ(FileSize(grown), 1048576);
}

// Refusals print and touch nothing; the lines come with the log switch set (even empty) and name
// the kind: only the six magic bytes make a compressed file, and create never sniffs.
TEST_F(LocalFileTest, RefusedOpensPrintNothingAndInformationalLinesNameTheKind) {
  const std::string name = Name("missing.odb");
  const std::string zero = Name() + std::string(1, '\0') + "tail";
  const std::string url = "http://host:80/dir/a.odb";
  const std::string urlReadOnly = "*** ERROR: Attempt to write to read-only file:\n  " + url;
  Make("a.odb", "keep");
  Make("short.odb", "KVRTS");
  Make("other.odb", "KVRTSB00 and more");
  {
    ScopedEnv log(kLog, nullptr);
    StderrCapture capture;
    qvt_File::Open(Name("short.odb"), 0, true);
    qvt_File::CreateCompressed(Name("packed.odb"));
    EXPECT_EQ(capture.Stop(), "");
  }
  ScopedEnv log(kLog, "");
  StderrCapture capture;
  for (const std::string& missing : {name, zero}) {
    const std::string noSuchFile = "*** ERROR: No such file: " + missing + ".";
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(missing, 0, true), qvt_FileNoSuchFile, noSuchFile);
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(missing, 1, false), qvt_FileNoSuchFile, noSuchFile);
  }
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(name, cow_String("pw")), qvt_FileNoSuchFile,
                        "*** ERROR: No such file: " + name + ".");
  ExpectEachThrows<qvt_FileReadOnlyExc>(
      urlReadOnly, {[&] { qvt_File::Open(url, 2, false); }, [&] { qvt_File::Open(url, 1, false); },
                    [&] { qvt_File::CreateCompressed(url); }});
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(name, 3, false), nex_AssertException, "Incorrect file access.");
  EXPECT_EQ(qvt_File::Open(Name("short.odb"), 0, true).Repr()->Length(), 5);
  EXPECT_EQ(qvt_File::Open(Name("other.odb"), 1, false).Repr()->Length(), 17);
  qvt_File::Open(Name("other.odb"), cow_String("pw"));
  qvt_File::CreateCompressed(Name("packed.odb"));
  qvt_File::Open(Name("packed.odb"), 0, true);
  qvt_File::Open(Name("packed.odb"), cow_String());
  qvt_File::Open(Name("packed.odb"), 1, false);
  qvt_File f = qvt_File::Open(Name("packed.odb"), 2, true);
  EXPECT_EQ(capture.Stop(),
            "*** Informational: Opening File based ODB.\n"
            "*** Informational: Updating File based ODB.\n"
            "*** Informational: Opening File based ODB.\n"
            "*** Informational: Creating Compressed File based MDB.\n"
            "*** Informational: Opening Compressed File based MDB.\n"
            "*** Informational: Opening Compressed File based MDB.\n"
            "*** Informational: Updating Compressed File based MDB.\n"
            "*** Informational: Creating File based ODB.\n");
  EXPECT_EQ((std::vector<std::int64_t>{f.Repr()->Length(), FileSize(Name("packed.odb"))}),
            (std::vector<std::int64_t>{0, 0}));
  EXPECT_THROW(qvt_File::Open(zero, 2, false), nex_TextException);
  EXPECT_FALSE(std::filesystem::exists(name) || std::filesystem::exists("http:"));
  EXPECT_EQ(ReadAll(Name()), (Bytes{'k', 'e', 'e', 'p'}));
  const std::string folder = Name("folder.odb");
  std::filesystem::create_directory(folder);
  for (int access : {0, 1, 2})
    EXPECT_THROW(qvt_File::Open(folder, access, false), nex_TextException) << access;
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

std::ptrdiff_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Copy moves the rest of the source to the target's position; the last handle closes the file.
TEST_F(LocalFileTest, CopiesShareTheFileAndCopyMovesTheRestOfTheSource) {
  Bytes bytes(10000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i % 251);
  WriteAll(Name("src.odb"), bytes);
  Make("ro.odb", "keep");
  Bytes expected = {'H', 'E', 'A', 'D'};
  expected.insert(expected.end(), bytes.begin() + 100, bytes.end());
  const std::ptrdiff_t descriptors = OpenDescriptors();
  {
    qvt_File src = qvt_File::Open(Name("src.odb"), 1, false);
    qvt_File dst = qvt_File::Open(Name("dst.odb"), 2, false);
    qvt_File shared;
    shared = dst;
    shared.Repr()->Write("HEAD", 4);
    EXPECT_EQ(dst.Repr()->Location(), 4);
    src.Repr()->Seek(100);
    dst.Copy(src);
    EXPECT_EQ((std::vector<std::int64_t>{src.Repr()->Location(), dst.Repr()->Location()}),
              (std::vector<std::int64_t>{10000, 4 + 9900}));
    dst.Copy(src);  // from a source at its end nothing more is copied
    EXPECT_EQ(ReadAll(Name("dst.odb")), expected);
    qvt_File ro = qvt_File::Open(Name("ro.odb"), 0, true);
    src.Repr()->Seek(0);
    QVT_EXPECT_THROW_TEXT(ro.Copy(src), qvt_FileReadOnlyExc,
                          "*** ERROR: Attempt to write to read-only file:\n  " + Name("ro.odb"));
    EXPECT_EQ(src.Repr()->Location(), 0);
    qvt_File same = src;
    QVT_EXPECT_THROW_TEXT(src.Copy(same), qvt_FileBadParameterExc,
                          "*** ERROR: Bad parameter passed to file method: qvt_File::Copy.");
  }
  EXPECT_EQ(std::make_tuple(OpenDescriptors(), ReadAll(Name("src.odb")), ReadAll(Name("ro.odb"))),
            std::make_tuple(descriptors, bytes, Bytes{'k', 'e', 'e', 'p'}));
}

// The exact text; thrown through a base reference, the class itself with its text and place (Throw
// never returns; anything but Exc escapes and fails the test).
template <class Exc>
void ExpectTextAndThrownAsItself(Exc exc, const char* text) {
  EXPECT_EQ(exc.AsString(), text);
  try {
    static_cast<nex_Exception&>(exc).Throw(__FILE__, 42);
  } catch (const Exc& e) {
    EXPECT_EQ(std::make_tuple(e.AsString(), e.UserReport()), std::make_tuple(exc.AsString(), exc.AsString()));
    EXPECT_NE(e.DeveloperReport().find(exc.AsString()), cow_String::npos);
    EXPECT_EQ(cow_String(static_cast<const std::exception&>(e).what()), exc.AsString());
    EXPECT_EQ(e.SourceLine(), 42);
    EXPECT_STREQ(e.SourceFile(), __FILE__);
  }
}

// Empty and null arguments leave nothing between the words.
TEST(FileExceptions, MessagesAreExactAndEachClassIsCaughtAsItself) {
  ExpectTextAndThrownAsItself(qvt_FileException("plain text"), "plain text");
  ExpectTextAndThrownAsItself(qvt_FileNotReadable(""), "*** ERROR: No permission to read: .");
  ExpectTextAndThrownAsItself(qvt_FileBadParameterExc(nullptr),
                              "*** ERROR: Bad parameter passed to file method: .");
  ExpectTextAndThrownAsItself(qvt_FileFailExc("", ""),
                              "*** ERROR: Lost connection to remote file:\n, reason:\n");
}

// Growth in whole mebibytes; writes move the allocation only, never lowering it. Refusals change
// nothing; a reopened file takes its size as length and allocation.
TEST_F(LocalFileTest, GrowthTrimWritesAndRefusalsMoveTheRightLengths) {
  qvt_File f = Create();
  qvt_FileRepr* r = f.Repr();
  EXPECT_FALSE(r->ReadOnly());
  EXPECT_EQ(r->CheckNODBCache(), "");  // only a remote file has a cache to report on
  char buf[8];
  const char readText[] = "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Read.";
  const char writeText[] = "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Write.";
  QVT_EXPECT_THROW_TEXT(r->Read(buf, -1), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Read(nullptr, 0), qvt_FileBadParameterExc, readText);
  QVT_EXPECT_THROW_TEXT(r->Write(nullptr, 1), qvt_FileBadParameterExc, writeText);
  QVT_EXPECT_THROW_TEXT(r->Write(buf, -1), qvt_FileBadParameterExc, writeText);
  EXPECT_EQ((std::vector<int>{r->Read(buf, 0), r->Write(buf, 0)}), (std::vector<int>{0, 0}));
  EXPECT_EQ(StateOf(r), (State{0, 0, 0, 0, 0}));
  EXPECT_TRUE(r->ExtendFile(1));
  EXPECT_EQ(StateOf(r), (State{1, 1, 1048576, 0, 1048576}));
  EXPECT_EQ((std::vector<bool>{r->ExtendFile(1048575), r->Extend(1), r->Extend(10)}),
            (std::vector<bool>{false, true, false}));
  EXPECT_EQ(StateOf(r), (State{1048587, 1048587, 2097152, 0, 2097152}));
  r->ExtendFile(-1048587 + 3000);
  r->TrimToLength();
  EXPECT_EQ(StateOf(r), (State{3000, 3000, 3000, 0, 3000}));
  QVT_EXPECT_THROW_TEXT(r->ExtendFile(-3001), nex_AssertException, "newLength >= 0");
  r->ExtendFile(-1000);  // a negative increment shrinks the logical length
  r->TrimToLength();
  EXPECT_EQ(StateOf(r), (State{2000, 2000, 2000, 0, 2000}));
  r->Seek(1048576 + 5);
  r->Write("x", 1);
  EXPECT_EQ(StateOf(r), (State{2000, 2000, 1048582, 1048582, 1048582}));
  EXPECT_FALSE(r->ExtendFile(100));     // the next step (1 MiB) is below the allocation
  EXPECT_TRUE(r->ExtendFile(1048576));  // rounds up to 2 MiB
  r->Seek(10);
  r->Write("y", 1);
  EXPECT_EQ(StateOf(r), (State{1050676, 1050676, 2097152, 11, 2097152}));
  r->Seek(0);
  r->Write("abcdef", 6);
  r->ExtendFile(6 - 1050676);
  r->TrimToLength();
  const Bytes before = ReadAll(Name());
  qvt_File ro = OpenRead();
  r = ro.Repr();
  const std::string text = "*** ERROR: Attempt to write to read-only file:\n  " + Name();
  ExpectEachThrows<qvt_FileReadOnlyExc>(
      text, {[&] { r->Write("x", 1); }, [&] { r->ExtendFile(1); }, [&] { r->Extend(1); },
             [&] { r->TrimToLength(); }, [&] { r->WriteSizeRecord(0); }, [&] { r->WriteInt(1); }});
  EXPECT_EQ(std::make_tuple(StateOf(r), ReadAll(Name())), std::make_tuple((State{6, 6, 6, 0, 6}), before));
  r->Seek(3);
  EXPECT_EQ((std::vector<std::int64_t>{r->Read(buf, 8), r->Read(buf, 8), r->Location()}),
            (std::vector<std::int64_t>{3, 0, 6}));
  r->Seek(100);
  EXPECT_EQ((std::vector<std::int64_t>{r->Read(buf, 8), r->Location()}), (std::vector<std::int64_t>{0, 100}));
  f = qvt_File();  // the writer leaves
  qvt_File u = OpenUpdate();
  EXPECT_EQ(StateOf(u.Repr()), (State{6, 6, 6, 0, 6}));
  EXPECT_TRUE(u.Repr()->ExtendFile(10));
  EXPECT_EQ(StateOf(u.Repr()), (State{16, 16, 1048576, 0, 1048576}));
}

// A marker and the allocation as a big-endian double, never moving the position. The size, rounded,
// must match the allocation; a zero size passes only with one of two markers.
TEST_F(LocalFileTest, SizeRecordIsWrittenAndCheckedAgainstTheAllocation) {
  {
    qvt_File f = Create();
    qvt_FileRepr* r = f.Repr();
    r->ExtendFile(1024);
    r->Seek(1000);
    r->WriteInt(77);
    r->TrimToLength();
    r->WriteSizeRecord(500);
    EXPECT_EQ(r->Location(), 1004);
  }
  const Bytes bytes = ReadAll(Name());
  EXPECT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(Bytes(bytes.begin() + 500, bytes.begin() + 512),
            (Bytes{0, 0, 0, 0, 0x40, 0x90, 0, 0, 0, 0, 0, 0}));  // 1024.0
  EXPECT_EQ(BE32(bytes, 1000), 77u);
  ExpectRecord(true);
  {
    qvt_File f = OpenUpdate();
    f.Repr()->ExtendFile(1048576);  // grows the file; the record is now stale
    QVT_EXPECT_THROW_TEXT(f.Repr()->CheckSizeRecord(500), nex_TextException, kCorrupt);
    f.Repr()->WriteSizeRecord(500);
    f.Repr()->CheckSizeRecord(500);
  }
  EXPECT_EQ(BEDouble(ReadAll(Name()), 504), 2097152.0);

  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::uint32_t marker;
    double value;
    std::size_t length;
    bool sound;
  } cases[] = {
      {0x0A000D0A, 0.0, 1024, true}, {0, 0.0, 1024, true},           {0x0A0D0A00, 0.0, 1024, false},
      {1, 0.0, 1024, false},         {0x0D0A0D0A, 0.0, 1024, false}, {0x09090909, 1023.6, 1024, true},
      {0, 1024.4, 1024, true},       {0, 1024.5, 1024, false},       {0, 1024.0, 1023, false},
      {0, 1023.0, 511, false},       {0, 0.0, 500, false},           {0, 0.4, 1024, true},
      {0, -5.0, 1024, false},        {0, 1e300, 1024, false},        {0, -1e300, 1024, false},
      {0, inf, 1024, false},         {0, nan, 1024, false},          {0, 9.3e18, 1024, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.value << " length " << c.length << " marker " << std::hex << c.marker);
    Bytes record(1024, 0x55);
    PutBE32(record, 500, c.marker);
    PutBEDouble(record, 504, c.value);
    record.resize(c.length);
    WriteAll(Name(), record);
    ExpectRecord(c.sound);
  }
}

class RecordingChecker : public qvt_DBStatusCheckerFile {
 public:
  explicit RecordingChecker(const cow_String& name) : qvt_DBStatusCheckerFile(name) {}
  std::vector<int> statuses;
  int flushChanges = 0;
  bool throwOnNotify = false;

 protected:
  void StatusChecked(qvt_FileStatus::QvtFileStatus status) override {
    statuses.push_back(status);
    if (throwOnNotify) NEX_THROW_TEXT("notification refused");
  }
  void FlushCountChanged() override { ++flushChanges; }
};

// Each row: the header written (or the file removed), a cut, the lock, the answer and the flush count
// kept. A failing notification turns the answer into CheckFailed, never an exception.
TEST_F(LocalFileTest, AnswersKeptValuesAndNotificationsThroughASequenceOfChanges) {
  QVT_EXPECT_THROW_TEXT(RecordingChecker checker(Name("run.odb")), utl_FileExceptionNoFile,
                        "***ERROR: No such file: " + Name("run.odb") + ".");
  WriteAll(Name("run.odb"), std::vector<unsigned char>(519, 0xEE));  // one value whole: both zero
  RecordingChecker shortFile(Name("run.odb"));
  EXPECT_EQ(std::make_pair(shortFile.FlushCount(), shortFile.CreationTime()), std::make_pair(0, 0));
  WriteStatusHeader(Name("run.odb"), 3, 99);
  RecordingChecker checker(Name("run.odb"));
  EXPECT_TRUE(checker.statuses.empty());
  const int kRemoved = -1;
  const struct {
    const char* what;
    int flushes, time, cutTo;
    bool lock;
    int status, flushCount;
  } steps[] = {{"unchanged", 3, 99, -1, false, 0, 3},
               {"cut to 519", 3, 99, 519, false, 3, 3},
               {"cut to 520", 3, 99, 520, false, 0, 3},
               {"flushed", 4, 99, -1, false, 2, 4},
               {"fewer flushes", 1, 99, -1, false, 2, 1},
               {"removed", kRemoved, 0, -1, false, 3, 1},
               {"the same values back", 1, 99, -1, false, 0, 1},
               {"recreated", 0, 100, -1, false, 1, 1},
               {"recreated and flushed", 5, 100, -1, false, 1, 1},
               {"lock taken", 1, 99, -1, true, 4, 1},
               {"flushed under the lock", 4, 99, -1, true, 4, 1},
               {"removed under the lock", kRemoved, 0, -1, true, 4, 1},
               {"lock released", 4, 99, -1, false, 2, 4},
               {"after the lock", 4, 99, -1, false, 0, 4}};
  std::vector<int> statuses;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.flushes == kRemoved)
      utl_RemoveFile(Name("run.odb"));
    else
      WriteStatusHeader(Name("run.odb"), step.flushes, step.time);
    if (step.cutTo >= 0) TruncateTo(Name("run.odb"), step.cutTo);
    if (step.lock) utl_MakeDirectory(Name("run.lsm"));
    if (!step.lock) utl_RemoveDirectory(Name("run.lsm"));
    EXPECT_EQ(checker.CheckStatus(), step.status);
    EXPECT_EQ((std::vector<int>{checker.FlushCount(), checker.CreationTime()}),
              (std::vector<int>{step.flushCount, 99}));
    statuses.push_back(step.status);
  }
  checker.throwOnNotify = true;
  EXPECT_EQ(checker.CheckStatus(), qvt_FileStatus::CheckFailed);
  statuses.insert(statuses.end(), {qvt_FileStatus::Unchanged, qvt_FileStatus::CheckFailed});
  EXPECT_EQ(std::make_tuple(checker.statuses, checker.flushChanges), std::make_tuple(statuses, 3));
  // A fresh checker on a re-created file starts from its values; as the lock only a directory counts,
  // never for a URL, and the lock's name replaces only an ending of exactly ".odb".
  WriteStatusHeader(Name("run.odb"), 0, 100);
  WriteAll(Name("run.lsm"), {'x'});
  EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists(Name("run.odb")));
  EXPECT_EQ(RecordingChecker(Name("run.odb")).CheckStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_RemoveFile(Name("run.lsm")) && utl_MakeDirectory(Name("run.lsm")));
  EXPECT_TRUE(qvt_DBStatusCheckerFile::TransactionLockExists(Name("run.odb")));
  const std::string name = m_Dir.File("data.bin");
  WriteStatusHeader(name, 1, 2);
  qvt_DBStatusCheckerFileLocal local(name);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("data.lsm")));
  EXPECT_EQ(local.CheckStatus(), qvt_FileStatus::Unchanged);
  ASSERT_TRUE(utl_MakeDirectory(m_Dir.File("data.bin.lsm")));
  EXPECT_EQ(local.CheckStatus(), qvt_FileStatus::InTransaction);
  for (const char* url : {"ftp://host/run.odb", "http://user:pw@host:80/data"})
    EXPECT_FALSE(qvt_DBStatusCheckerFile::TransactionLockExists(url)) << url;
  const std::pair<const char*, const char*> names[] = {{"x.y/run.odb", "x.y/run.lsm"},
                                                       {"run.ODB", "run.ODB.lsm"},
                                                       {"data", "data.lsm"},
                                                       {"run.odbx", "run.odbx.lsm"},
                                                       {"run.odb.bak", "run.odb.bak.lsm"},
                                                       {".odb", ".lsm"},
                                                       {"", ".lsm"},
                                                       {"dir.odb/run", "dir.odb/run.lsm"}};
  for (const auto& n : names) EXPECT_EQ(qvt_FileRepr::TransactionLockName(n.first), n.second) << n.first;
}

}  // namespace
}  // namespace qvt_test
