// Scratch files and the process command line.
#include "utl_TempFile.h"

#include <filesystem>

#include "qvt_TestSupport.h"
#include "utl_CommandLine.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace {

// A descriptor only while the file exists; gone with the object.
TEST(TempFile, IsCreatedEmptyWithAUniqueNameAndRemoved) {
  qvt_test::ScratchDir dir;
  std::string first;
  {
    utl_TempFile a(dir.Path()), b(dir.Path());
    first = a.Name();
    EXPECT_NE(a.Name(), b.Name());
    EXPECT_EQ(a.Name().rfind(dir.Path() + "/", 0), 0u);
    EXPECT_EQ(qvt_test::FileSize(a.Name()), 0);
    EXPECT_GT(a.AvailableSpace(), 0u);
    const int fd = a.OpenIfPresent();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(utl_CloseDescriptor(fd));
    utl_TempFile inDefaultFolder;
    EXPECT_TRUE(utl_RemoveFile(inDefaultFolder.Name()));
    EXPECT_EQ(inDefaultFolder.OpenIfPresent(), -1);
  }
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_THROW(utl_TempFile("/nonexistent/folder"), nex_TextException);
}

// Keys from every argument form; a value that is no whole int is reported.
TEST(CommandLine, KeysFromEveryArgumentFormAndTheirIntegerValues) {
  utl_CommandLine& line = utl_CommandLine::Instance();
  const char* argv[] = {"host", "-nodb_page_size", "64", "--nodb_cache_limit=10", "depth=-3", "-verbose",
                        "-x=",  "positional",      "-last", "-a", "12x", "-b", "99999999999", "-c", " 5"};
  line.Set(15, argv);
  EXPECT_EQ(line.ConstGetValueAsInt("nodb_page_size"), 64);
  EXPECT_EQ(line.ConstGetValueAsInt("nodb_cache_limit"), 10);
  EXPECT_EQ(line.ConstGetValueAsInt("depth"), -3);
  EXPECT_EQ(line.ConstGetValue("verbose"), "");
  EXPECT_EQ(line.ConstGetValue("x"), "");
  EXPECT_TRUE(line.IsMember("last"));
  EXPECT_FALSE(line.IsMember("positional") || line.IsMember("host"));
  line.SetValue("nodb_page_size", "0");
  EXPECT_EQ(line.ConstGetValueAsInt("nodb_page_size"), 0);
  line.Remove("nodb_page_size");
  EXPECT_FALSE(line.IsMember("nodb_page_size"));
  const std::pair<const char*, const char*> cases[] = {
      {"a", "***ERROR: Command line key a has no integer value: 12x."},
      {"b", "***ERROR: Command line key b has no integer value: 99999999999."},
      {"c", "***ERROR: Command line key c has no integer value:  5."},
      {"none", "***ERROR: Command line has no key none."},
  };
  for (const auto& c : cases)
    QVT_EXPECT_THROW_TEXT(line.ConstGetValueAsInt(c.first), nex_TextException, c.second);
  line.Clear();
}

}  // namespace
