// The file handle: path tests and their exceptions with their exact texts, the
// choice of kind, the informational lines, sharing between handle copies,
// Copy, and the release of the file with the last handle.
#include "qvt_File.h"

#include <exception>
#include <filesystem>

#include "qvt_ChildProcess.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::ReadAll;
using qvt_test::ScopedEnv;
using qvt_test::StderrCapture;
using Bytes = std::vector<unsigned char>;

const char kLog[] = "KVR_QVT_LOGIFY";

class FileHandleTest : public ::testing::Test {
 protected:
  std::string Name(const char* leaf = "a.odb") const { return m_Dir.File(leaf); }
  void Make(const char* leaf, const std::string& text) {
    qvt_test::WriteAll(Name(leaf), Bytes(text.begin(), text.end()));
  }
  qvt_test::ScratchDir m_Dir;
};

// A missing file, a name with a zero byte, a URL opened for a change and
// an unknown access are refused, print nothing (even with the log switch)
// and touch nothing; a directory is no database file in any access.
TEST_F(FileHandleTest, RefusedOpensPrintAndTouchNothing) {
  const std::string name = Name("missing.odb");
  const std::string zero = Name() + std::string(1, '\0') + "tail";
  const std::string url = "http://host:80/dir/a.odb";
  const std::string urlReadOnly = "*** ERROR: Attempt to write to read-only file:\n  " + url;
  Make("a.odb", "keep");
  ScopedEnv log(kLog, "1");
  StderrCapture capture;
  for (const std::string& missing : {name, zero}) {
    const std::string noSuchFile = "*** ERROR: No such file: " + missing + ".";
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(missing, 0, true), qvt_FileNoSuchFile, noSuchFile);
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(missing, 1, false), qvt_FileNoSuchFile, noSuchFile);
  }
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(name, cow_String("pw")), qvt_FileNoSuchFile,
                        "*** ERROR: No such file: " + name + ".");
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(url, 2, false), qvt_FileReadOnlyExc, urlReadOnly);
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(url, 1, false), qvt_FileReadOnlyExc, urlReadOnly);
  QVT_EXPECT_THROW_TEXT(qvt_File::CreateCompressed(url), qvt_FileReadOnlyExc, urlReadOnly);
  QVT_EXPECT_THROW_TEXT(qvt_File::Open(name, 3, false), nex_AssertException, "Incorrect file access.");
  EXPECT_EQ(capture.Stop(), "");
  EXPECT_THROW(qvt_File::Open(zero, 2, false), nex_TextException);
  EXPECT_FALSE(std::filesystem::exists(name));
  EXPECT_FALSE(std::filesystem::exists("http:"));
  EXPECT_EQ(ReadAll(Name()), (Bytes{'k', 'e', 'e', 'p'}));
  const std::string folder = Name("folder.odb");
  std::filesystem::create_directory(folder);
  for (int access : {0, 1, 2})
    EXPECT_THROW(qvt_File::Open(folder, access, false), nex_TextException) << access;
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// Permission tests run in a child that is not root, since root passes every
// permission check.
TEST_F(FileHandleTest, UnreadableAndUnwriteableFilesAreRefused) {
  Make("locked.odb", "data");
  std::filesystem::permissions(m_Dir.Path(), std::filesystem::perms::all);
  std::filesystem::permissions(Name("locked.odb"), std::filesystem::perms::none);
  const std::string name = Name("locked.odb");
  const qvt_test::ChildResult r = qvt_test::RunChild([&] {
    if (!qvt_test::DropRootPrivileges()) return 2;
    const std::function<void()> opens[] = {[&] { qvt_File::Open(name, 0, true); },
                                           [&] { qvt_File::Open(name, cow_String()); },
                                           [&] { qvt_File::Open(name, 1, false); }};
    for (const auto& open : opens) {
      try {
        open();
        return 3;
      } catch (const qvt_FileException& e) {
        std::printf("%s\n", e.AsString().c_str());
      }
    }
    return 0;
  });
  ASSERT_TRUE(r.Succeeded()) << r.exitCode << r.err;
  EXPECT_EQ(r.out, "*** ERROR: No permission to read: " + name + ".\n" +
                       "*** ERROR: No permission to read: " + name + ".\n" +
                       "*** ERROR: Attempt to write to read-only file:\n  " + name + "\n");
}

// The informational lines come only with the log switch set (to anything,
// even empty) and name the kind: only the six magic bytes make a compressed
// file, and only when opening: create never sniffs and empties the file.
TEST_F(FileHandleTest, InformationalLinesNameTheKindTheMagicBytesChose) {
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
  EXPECT_EQ(f.Repr()->Length(), 0);
  EXPECT_EQ(qvt_test::FileSize(Name("packed.odb")), 0);
}

std::ptrdiff_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Copies of a handle share the open file; Copy moves the rest of the
// source to the target's position, and refuses a read-only target or
// itself. The source, opened for update and never written, is left as it
// was, and the last handle of each file closes it.
TEST_F(FileHandleTest, CopiesShareTheFileAndCopyMovesTheRestOfTheSource) {
  Bytes bytes(10000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i % 251);
  qvt_test::WriteAll(Name("src.odb"), bytes);
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
    EXPECT_EQ(src.Repr()->Location(), 10000);
    EXPECT_EQ(dst.Repr()->Location(), 4 + 9900);
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
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(ReadAll(Name("src.odb")), bytes);
  EXPECT_EQ(ReadAll(Name("ro.odb")), (Bytes{'k', 'e', 'e', 'p'}));
}

template <class Exc>
void ExpectCaughtAsItself(const Exc& exc) {
  const nex_Exception& base = exc;
  bool caught = false;
  try {
    const_cast<nex_Exception&>(base).Throw(__FILE__, 42);
  } catch (const Exc& e) {
    caught = true;
    EXPECT_EQ(e.AsString(), exc.AsString());
    EXPECT_EQ(e.UserReport(), exc.AsString());
    EXPECT_NE(e.DeveloperReport().find(exc.AsString()), cow_String::npos);
    EXPECT_EQ(cow_String(static_cast<const std::exception&>(e).what()), exc.AsString());
    EXPECT_EQ(e.SourceLine(), 42);
    EXPECT_STREQ(e.SourceFile(), __FILE__);
  }
  EXPECT_TRUE(caught);
}

// The texts the other tests do not raise: empty and null arguments leave
// nothing between the words. Raised through a base reference, the
// most-derived class is still what is thrown, with its text and place.
TEST(FileExceptions, MessagesAreExactAndEachClassIsCaughtAsItself) {
  const std::pair<cow_String, const char*> cases[] = {
      {qvt_FileException("plain text").AsString(), "plain text"},
      {qvt_FileNotReadable("").AsString(), "*** ERROR: No permission to read: ."},
      {qvt_FileBadParameterExc(nullptr).AsString(), "*** ERROR: Bad parameter passed to file method: ."},
      {qvt_FileFailExc("", "").AsString(), "*** ERROR: Lost connection to remote file:\n, reason:\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.first, c.second);
  ExpectCaughtAsItself(qvt_FileException("m"));
  ExpectCaughtAsItself(qvt_FileNotReadable("a.odb"));
  ExpectCaughtAsItself(qvt_FileFailExc("x", "y"));
}

}  // namespace
