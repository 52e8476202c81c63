// qvtdb on URLs: info, ls, check and dump of every object of the sample
// database, plain and compressed, print through the assistant what they
// print for the file itself, the name and the kind of file aside.
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_RemoteTestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The output with the file's name and the kind of file taken out.
std::string Normalized(const ChildResult& result, const std::string& name) {
  QVT_EXPECT_EXIT(result, 0);
  std::string text = Replace(result.out + result.err, name, "FILE");
  for (const char* kind : {"remote", "compressed", "plain"}) {
    text = Replace(text, std::string("kind          ") + kind, "kind");
    text = Replace(text, std::string("sound ") + kind, "sound");
  }
  return Replace(text, " (uncompressed)", "");
}

class QvtdbOnUrl : public ::testing::TestWithParam<bool> {};

TEST_P(QvtdbOnUrl, PrintsWhatItPrintsForTheFile) {
  RemoteEnvironment remote(1, 0);
  ScratchDir dir;
  const SampleDatabase sample = WriteSampleDatabase(dir.File("s.odb"), GetParam());
  const std::string url = RemoteEnvironment::Url(sample.path);
  std::vector<std::vector<std::string>> commands = {{"info"}, {"ls"}, {"check"}};
  for (qvt_Handle handle : sample.All()) commands.push_back({"dump", std::to_string(handle)});
  for (std::vector<std::string> command : commands) {
    command.insert(command.begin() + 1, sample.path);
    const std::string local = Normalized(RunQvtdb(command), sample.path);
    command[1] = url;
    EXPECT_EQ(Normalized(RunQvtdb(command), url), local) << command[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, QvtdbOnUrl, ::testing::Bool());

}  // namespace
}  // namespace qvt_test
