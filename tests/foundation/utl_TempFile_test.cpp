// Scratch files and the process command line.
#include "utl_TempFile.h"

#include <filesystem>

#include "qvt_TestSupport.h"
#include "utl_CommandLine.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace {

TEST(TempFile, IsCreatedEmptyWithAUniqueNameUsableByNameAndRemoved) {
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
    utl_File(a.Name(), utl_FileAccessCreate).Write("cache", 5);
    EXPECT_EQ(qvt_test::FileSize(a.Name()), 5);
    // A descriptor only while the file exists.
    const int fd = a.OpenIfPresent();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(utl_CloseDescriptor(fd));
    utl_TempFile inDefaultFolder;
    EXPECT_TRUE(utl_RemoveFile(inDefaultFolder.Name()));
    EXPECT_EQ(inDefaultFolder.OpenIfPresent(), -1);
    EXPECT_FALSE(utl_CloseDescriptor(-1));
  }
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_THROW(utl_TempFile("/nonexistent/folder"), nex_TextException);
}

class CommandLineTest : public ::testing::Test {
 protected:
  void TearDown() override { utl_CommandLine::Instance().Clear(); }
  utl_CommandLine& Line() { return utl_CommandLine::Instance(); }
};

TEST_F(CommandLineTest, KeysFromEveryArgumentForm) {
  const char* argv[] = {"host", "-nodb_page_size", "64",   "--nodb_cache_limit=10", "depth=-3", "-verbose",
                        "-x=",  "positional",      "-last"};
  Line().Set(9, argv);
  EXPECT_EQ(Line().ConstGetValueAsInt("nodb_page_size"), 64);
  EXPECT_EQ(Line().ConstGetValueAsInt("nodb_cache_limit"), 10);
  EXPECT_EQ(Line().ConstGetValueAsInt("depth"), -3);
  EXPECT_TRUE(Line().IsMember("verbose"));
  EXPECT_EQ(Line().ConstGetValue("verbose"), "");
  EXPECT_EQ(Line().ConstGetValue("x"), "");
  EXPECT_TRUE(Line().IsMember("last"));
  EXPECT_FALSE(Line().IsMember("positional"));
  EXPECT_FALSE(Line().IsMember("host"));
  Line().SetValue("nodb_page_size", "0");
  EXPECT_EQ(Line().ConstGetValueAsInt("nodb_page_size"), 0);
  Line().Remove("nodb_page_size");
  EXPECT_FALSE(Line().IsMember("nodb_page_size"));
}

TEST_F(CommandLineTest, NonIntegerValuesAndMissingKeysAreReported) {
  Line().Set({"-a", "12x", "-b", "99999999999", "-c", " 5"});
  const std::pair<const char*, const char*> cases[] = {
      {"a", "***ERROR: Command line key a has no integer value: 12x."},
      {"b", "***ERROR: Command line key b has no integer value: 99999999999."},
      {"c", "***ERROR: Command line key c has no integer value:  5."},
      {"none", "***ERROR: Command line has no key none."},
  };
  for (const auto& c : cases)
    QVT_EXPECT_THROW_TEXT(Line().ConstGetValueAsInt(c.first), nex_TextException, c.second);
}

}  // namespace
