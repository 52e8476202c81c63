// Scratch files and the process command line.
#include "utl_TempFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "qvt_TestSupport.h"
#include "utl_CommandLine.h"
#include "utl_File.h"

namespace {

TEST(TempFile, IsCreatedEmptyWithAUniqueNameAndRemoved) {
  qvt_test::ScratchDir dir;
  std::string first;
  {
    utl_TempFile a(dir.Path());
    utl_TempFile b(dir.Path());
    first = a.Name();
    EXPECT_NE(a.Name(), b.Name());
    EXPECT_EQ(a.Name().rfind(dir.Path() + "/", 0), 0u);
    EXPECT_EQ(qvt_test::FileSize(a.Name()), 0);
    EXPECT_GT(a.AvailableSpace(), 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(first));
}

TEST(TempFile, OpenIfPresentGivesADescriptorOnlyWhileTheFileExists) {
  utl_TempFile t;
  const int fd = t.OpenIfPresent();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(utl_CloseDescriptor(fd));
  EXPECT_TRUE(utl_RemoveFile(t.Name()));
  EXPECT_EQ(t.OpenIfPresent(), -1);
  EXPECT_FALSE(utl_CloseDescriptor(-1));
}

TEST(TempFile, CanBeUsedAsAFileByName) {
  utl_TempFile t;
  {
    utl_File f(t.Name(), utl_FileAccessCreate);
    f.Write("cache", 5);
  }
  EXPECT_EQ(qvt_test::FileSize(t.Name()), 5);
}

TEST(TempFile, UnwritableFolderIsReported) {
  EXPECT_THROW(utl_TempFile("/nonexistent/folder"), nex_TextException);
}

class CommandLineTest : public ::testing::Test {
 protected:
  void TearDown() override { utl_CommandLine::Instance().Clear(); }
  utl_CommandLine& Line() { return utl_CommandLine::Instance(); }
};

TEST_F(CommandLineTest, KeysFromEveryArgumentForm) {
  const char* argv[] = {"host", "-nodb_page_size", "64", "--nodb_cache_limit=10", "depth=-3",
                        "-verbose",  "-x=",  "positional", "-last"};
  Line().Set(9, argv);
  EXPECT_TRUE(Line().IsMember("nodb_page_size"));
  EXPECT_EQ(Line().ConstGetValueAsInt("nodb_page_size"), 64);
  EXPECT_EQ(Line().ConstGetValueAsInt("nodb_cache_limit"), 10);
  EXPECT_EQ(Line().ConstGetValueAsInt("depth"), -3);
  EXPECT_TRUE(Line().IsMember("verbose"));
  EXPECT_EQ(Line().ConstGetValue("verbose"), "");
  EXPECT_EQ(Line().ConstGetValue("x"), "");
  EXPECT_TRUE(Line().IsMember("last"));
  EXPECT_FALSE(Line().IsMember("positional"));
  EXPECT_FALSE(Line().IsMember("host"));
}

TEST_F(CommandLineTest, NonIntegerValuesAndMissingKeysAreReported) {
  Line().Set({"-a", "12x", "-b", "99999999999", "-c", " 5"});
  QVT_EXPECT_THROW_TEXT(Line().ConstGetValueAsInt("a"), nex_TextException,
                        "***ERROR: Command line key a has no integer value: 12x.");
  QVT_EXPECT_THROW_TEXT(Line().ConstGetValueAsInt("b"), nex_TextException,
                        "***ERROR: Command line key b has no integer value: 99999999999.");
  QVT_EXPECT_THROW_TEXT(Line().ConstGetValueAsInt("c"), nex_TextException,
                        "***ERROR: Command line key c has no integer value:  5.");
  QVT_EXPECT_THROW_TEXT(Line().ConstGetValueAsInt("none"), nex_TextException,
                        "***ERROR: Command line has no key none.");
}

TEST_F(CommandLineTest, TestsCanSetAndRemoveSingleKeys) {
  Line().Clear();
  Line().SetValue("nodb_page_size", "0");
  EXPECT_EQ(Line().ConstGetValueAsInt("nodb_page_size"), 0);
  Line().Remove("nodb_page_size");
  EXPECT_FALSE(Line().IsMember("nodb_page_size"));
}

}  // namespace
