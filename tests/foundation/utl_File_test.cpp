// Operating-system files: positioned transfers, resizing both ways, the
// missing-file exception, path tests and the directory calls.
#include "utl_File.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "qvt_TestSupport.h"
#include "utl_FileOffset.h"

namespace {

using qvt_test::ReadAll;
using qvt_test::ScratchDir;
using Bytes = std::vector<unsigned char>;

TEST(OsFile, TransfersHappenAtThePosition) {
  ScratchDir dir;
  const std::string name = dir.File("f");
  utl_File f(name, utl_FileAccessCreate);
  EXPECT_EQ(f.Write("abcdef", 6), 6);
  EXPECT_EQ(f.Tell(), 6);
  f.Seek(2);
  EXPECT_EQ(f.Write("XY", 2), 2);
  f.Seek(10);  // beyond the end: the gap reads back as zeros
  EXPECT_EQ(f.Write("Z", 1), 1);
  EXPECT_EQ(ReadAll(name), (Bytes{'a', 'b', 'X', 'Y', 'e', 'f', 0, 0, 0, 0, 'Z'}));
  char buf[8];
  f.Seek(8);
  EXPECT_EQ(f.Read(buf, 8), 3);
  EXPECT_EQ(f.Tell(), 11);
  EXPECT_EQ(f.Read(buf, 8), 0);
  EXPECT_EQ(f.Read(buf, 0), 0);
}

TEST(OsFile, ExtendSetsTheSizeBothWays) {
  ScratchDir dir;
  const std::string name = dir.File("f");
  utl_File f(name, utl_FileAccessCreate);
  f.Extend(3000000);
  EXPECT_EQ(f.FileSize(), 3000000);
  EXPECT_EQ(qvt_test::FileSize(name), 3000000);
  f.Write("abc", 3);
  f.Extend(2);
  EXPECT_EQ(f.FileSize(), 2);
  EXPECT_EQ(ReadAll(name), (Bytes{'a', 'b'}));
  QVT_EXPECT_THROW_TEXT(f.Extend(-1), nex_TextException, "***ERROR: resize failed for file " + name + ": negative size");
  EXPECT_EQ(f.FileSize(), 2);
}

TEST(OsFile, NegativeSeekIsRefused) {
  ScratchDir dir;
  utl_File f(dir.File("f"), utl_FileAccessCreate);
  f.Seek(5);
  QVT_EXPECT_THROW_TEXT(f.Seek(-1), nex_TextException,
                        "***ERROR: seek failed for file " + dir.File("f") + ": negative offset");
  EXPECT_EQ(f.Tell(), 5);
}

TEST(OsFile, AccessModes) {
  ScratchDir dir;
  const std::string name = dir.File("f");
  QVT_EXPECT_THROW_TEXT(utl_File(name, utl_FileAccessRead), utl_FileExceptionNoFile,
                        "***ERROR: No such file: " + name + ".");
  QVT_EXPECT_THROW_TEXT(utl_File(name, utl_FileAccessUpdate), utl_FileExceptionNoFile,
                        "***ERROR: No such file: " + name + ".");
  QVT_EXPECT_THROW_TEXT(utl_File(name, 7), nex_AssertException, "Incorrect file access.");
  EXPECT_FALSE(std::filesystem::exists(name));
  {
    utl_File create(name, utl_FileAccessCreate);
    create.Write("old", 3);
  }
  {
    utl_File update(name, utl_FileAccessUpdate);
    EXPECT_EQ(update.FileSize(), 3);  // update keeps the contents
    update.Write("n", 1);
  }
  EXPECT_EQ(ReadAll(name), (Bytes{'n', 'l', 'd'}));
  {
    utl_File read(name, utl_FileAccessRead);
    EXPECT_THROW(read.Write("x", 1), nex_TextException);
  }
  utl_File create(name, utl_FileAccessCreate);  // create empties
  EXPECT_EQ(create.FileSize(), 0);
}

TEST(OsFile, PathTestsAndUrls) {
  ScratchDir dir;
  const std::string name = dir.File("f");
  EXPECT_FALSE(utl_FilePath(name).Exists());
  qvt_test::WriteAll(name, {1});
  EXPECT_TRUE(utl_FilePath(name).Exists());
  EXPECT_TRUE(utl_FilePath(name).IsReadable());
  EXPECT_TRUE(utl_FilePath(name).IsWriteable());
  EXPECT_TRUE(utl_FilePath(dir.Path(), "f").Exists());
  EXPECT_TRUE(utl_FilePath(dir.Path()).IsDirectory());
  // A URL counts as existing and readable, never as writeable.
  EXPECT_TRUE(utl_FilePath("http://host/x.odb").Exists());
  EXPECT_TRUE(utl_FilePath("http://host/x.odb").IsReadable());
  EXPECT_FALSE(utl_FilePath("http://host/x.odb").IsWriteable());
}

TEST(OsFile, DirectoriesAndStat) {
  ScratchDir dir;
  const std::string lock = dir.File("run.lsm");
  EXPECT_FALSE(utl_Stat(lock).exists);
  EXPECT_TRUE(utl_MakeDirectory(lock));
  EXPECT_FALSE(utl_MakeDirectory(lock));  // exists already: reported, not thrown
  EXPECT_TRUE(utl_Stat(lock).exists);
  EXPECT_TRUE(utl_Stat(lock).isDirectory);
  EXPECT_TRUE(utl_RemoveDirectory(lock));
  EXPECT_FALSE(utl_RemoveDirectory(lock));
  EXPECT_FALSE(utl_Stat(lock).exists);
  qvt_test::WriteAll(dir.File("g"), {1, 2, 3});
  EXPECT_EQ(utl_Stat(dir.File("g")).size, 3);
  EXPECT_TRUE(utl_RemoveFile(dir.File("g")));
  EXPECT_FALSE(utl_RemoveFile(dir.File("g")));
}

TEST(Offsets, DifferenceMustFitThirtyTwoBits) {
  EXPECT_EQ(utl_DiffAsInt32(10, 3), 7);
  EXPECT_EQ(utl_DiffAsInt32(0, 2147483648LL), INT32_MIN);
  EXPECT_THROW(utl_DiffAsInt32(2147483648LL, 0), nex_AssertException);
  EXPECT_THROW(utl_DiffAsInt32(0, 2147483649LL), nex_AssertException);
}

}  // namespace
