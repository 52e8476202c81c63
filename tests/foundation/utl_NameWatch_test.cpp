// The lock watch answers what a lookup would, after every way the name can
// come and go, and falls back to lookups when its parent goes.
#include "utl_NameWatch.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

TEST(NameWatch, StartsOnlyWhereEveryChangeIsSeenAndFollowsTheName) {
  qvt_test::ScratchDir scratch;
  const fs::path dir = fs::path(scratch.Path()) / "d";
  const fs::path lock = dir / "run.odb.lock";
  const fs::path other = dir / "other";
  // Not where a change could go unseen: a missing parent, a file system without disk or memory, no leaf.
  EXPECT_EQ(utl_NameWatch::Start(lock.string()), nullptr);
  EXPECT_EQ(utl_NameWatch::Start("/proc/run.odb.lock"), nullptr);
  EXPECT_EQ(utl_NameWatch::Start(scratch.Path() + "/"), nullptr);
  fs::create_directory(dir);
  fs::create_directory(lock);
  std::unique_ptr<utl_NameWatch> watch = utl_NameWatch::Start(lock.string());
  if (!watch) GTEST_SKIP() << "no change notices for " << dir << " on this machine";
  EXPECT_TRUE(watch->IsDirectory()) << "present when the watch started";
  const struct {
    const char* change;
    std::function<void()> make;
    bool expected;
  } steps[] = {
      {"removed", [&] { fs::remove(lock); }, false},
      {"made", [&] { fs::create_directory(lock); }, true},
      {"removed and made again unseen", [&] { fs::remove(lock), fs::create_directory(lock); }, true},
      {"removed again", [&] { fs::remove(lock); }, false},
      {"a plain file", [&] { std::ofstream(lock.string()) << "x"; }, false},
      {"the file removed", [&] { fs::remove(lock); }, false},
      {"another name made", [&] { fs::create_directory(other); }, false},
      {"renamed into place", [&] { fs::rename(other, lock); }, true},
      {"renamed away", [&] { fs::rename(lock, other); }, false},
      {"a link to a directory", [&] { fs::create_directory_symlink(other, lock); }, true},
      {"the link removed", [&] { fs::remove(lock); }, false},
      // A child shares the notices: it must answer without taking them.
      {"made while a forked child asks",
       [&] {
         const auto child = qvt_test::RunChild([&] {
           fs::create_directory(lock);
           return watch->IsDirectory() ? 0 : 1;
         });
         EXPECT_TRUE(child.Succeeded()) << child.err;
       },
       true},
      {"removed", [&] { fs::remove(lock); }, false},
      // With the parent gone no notice can come: lookups from then on.
      {"the parent removed", [&] { fs::remove_all(dir); }, false},
      {"the parent and the name made again", [&] { fs::create_directories(lock); }, true},
  };
  for (const auto& step : steps) {
    step.make();
    EXPECT_EQ(watch->IsDirectory(), step.expected) << step.change;
  }
}

}  // namespace
