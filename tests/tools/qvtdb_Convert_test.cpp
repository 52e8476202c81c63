// qvtdb compress and decompress as processes: a round trip keeps every
// object and every byte, the target is never overwritten by accident nor
// left half-written, and the progress bar goes to standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "qvt_QvtdbRunner.h"
#include "qvt_ToolSampleDatabase.h"
#include "qvt_TestSupport.h"

namespace qvt_test {
namespace {

class Convert : public ::testing::Test {
 protected:
  void SetUp() override { m_Sample = WriteSampleDatabase(m_Dir.File("sample.odb"), false); }

  static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
  static std::string Head(const std::string& path, std::size_t n) {
    const std::vector<unsigned char> bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.begin() + static_cast<long>(std::min(n, bytes.size())));
  }

  ScratchDir m_Dir;
  SampleDatabase m_Sample;
};

TEST_F(Convert, CompressThenDecompressGivesADatabaseThatDumpsIdentically) {
  const std::string compressed = m_Dir.File("sample.cdb");
  const std::string restored = m_Dir.File("restored.odb");
  const ChildResult there = RunQvtdb({"compress", m_Sample.path, compressed});
  QVT_EXPECT_EXIT(there, 0);
  EXPECT_EQ(there.out.rfind("compressed " + m_Sample.path + " (16116 bytes) into " + compressed + " (", 0), 0u)
      << there.out;
  EXPECT_EQ(Head(compressed, 6), "KVRTSA");
  const ChildResult back = RunQvtdb({"decompress", compressed, restored});
  QVT_EXPECT_EXIT(back, 0);
  EXPECT_EQ(back.out, "decompressed " + compressed + " (16116 bytes) into " + restored + " (16116 bytes)\n");

  EXPECT_EQ(ReadAll(restored), ReadAll(m_Sample.path));
  std::vector<qvt_Handle> handles = m_Sample.All();
  handles.push_back(1);
  handles.push_back(3);
  for (const qvt_Handle handle : handles) {
    const std::vector<std::string> dump{"dump", "", std::to_string(handle), "--format", "json"};
    std::vector<std::string> a = dump, b = dump, c = dump;
    a[1] = m_Sample.path;
    b[1] = compressed;
    c[1] = restored;
    const ChildResult original = RunQvtdb(a);
    QVT_EXPECT_EXIT(original, 0);
    EXPECT_EQ(RunQvtdb(b).out, original.out) << "handle " << handle;
    EXPECT_EQ(RunQvtdb(c).out, original.out) << "handle " << handle;
  }
  for (const std::string& path : {compressed, restored}) QVT_EXPECT_EXIT(RunQvtdb({"check", path}), 0);
}

TEST_F(Convert, RefusesToOverwriteTheTargetWithoutForce) {
  const std::string target = m_Dir.File("target.cdb");
  const std::vector<unsigned char> old{'o', 'l', 'd'};
  WriteAll(target, old);
  const ChildResult refused = RunQvtdb({"compress", m_Sample.path, target});
  QVT_EXPECT_EXIT(refused, 1);
  EXPECT_EQ(refused.err, "qvtdb: " + target + " exists; add --force to overwrite it\n");
  EXPECT_EQ(ReadAll(target), old);

  QVT_EXPECT_EXIT(RunQvtdb({"compress", m_Sample.path, target, "--force"}), 0);
  EXPECT_EQ(Head(target, 6), "KVRTSA");
  QVT_EXPECT_EXIT(RunQvtdb({"check", target}), 0);
}

TEST_F(Convert, RefusesToCopyAFileOntoItself) {
  const std::vector<unsigned char> before = ReadAll(m_Sample.path);
  const std::string sameFile = m_Dir.Path() + "/./sample.odb";
  const ChildResult result = RunQvtdb({"decompress", m_Sample.path, sameFile, "--force"});
  QVT_EXPECT_EXIT(result, 1);
  EXPECT_EQ(result.err, "qvtdb: source and target are the same file: " + sameFile + "\n");
  EXPECT_EQ(ReadAll(m_Sample.path), before);
}

TEST_F(Convert, AFailedConversionLeavesNoTarget) {
  const std::string target = m_Dir.File("target.cdb");
  const std::string missing = m_Dir.File("missing.odb");
  const ChildResult noSource = RunQvtdb({"compress", missing, target});
  QVT_EXPECT_EXIT(noSource, 1);
  EXPECT_EQ(noSource.err, "qvtdb: *** ERROR: No such file: " + missing + ".\n");

  const std::string notDatabase = m_Dir.File("notes.txt");
  WriteAll(notDatabase, std::vector<unsigned char>(3000, 'x'));
  const ChildResult wrongSource = RunQvtdb({"compress", notDatabase, target});
  QVT_EXPECT_EXIT(wrongSource, 1);
  EXPECT_EQ(wrongSource.err, "qvtdb: ***ERROR: \"" + notDatabase + "\"  is not an KELVOR database file.\n");

  const std::string nowhere = m_Dir.File("no/such/folder/target.cdb");
  const ChildResult noFolder = RunQvtdb({"compress", m_Sample.path, nowhere});
  QVT_EXPECT_EXIT(noFolder, 1);
  EXPECT_NE(noFolder.err, "");
  EXPECT_EQ(Lines(noFolder.err).size(), 1u);

  EXPECT_FALSE(Exists(target));
  EXPECT_FALSE(Exists(target + ".qvtdb-partial"));
  EXPECT_FALSE(Exists(nowhere));
}

TEST_F(Convert, RefusesASourceThatAWriterIsChanging) {
  const std::string lock = m_Dir.File("sample.lsm");
  ASSERT_EQ(::mkdir(lock.c_str(), 0755), 0);
  const ChildResult result = RunQvtdb({"compress", m_Sample.path, m_Dir.File("target.cdb")});
  ::rmdir(lock.c_str());
  QVT_EXPECT_EXIT(result, 1);
  EXPECT_EQ(result.err, "qvtdb: a writer is changing " + m_Sample.path +
                            " now (its transaction lock exists); try again when it has finished\n");
  EXPECT_FALSE(Exists(m_Dir.File("target.cdb")));
}

TEST_F(Convert, ProgressBarGoesToStandardErrorOnlyWhenAsked) {
  const ChildResult quiet = RunQvtdb({"compress", m_Sample.path, m_Dir.File("a.cdb")});
  QVT_EXPECT_EXIT(quiet, 0);
  EXPECT_EQ(quiet.err, "") << "standard error is a pipe here, not a terminal";

  const ChildResult shown = RunQvtdb({"compress", m_Sample.path, m_Dir.File("b.cdb"), "--progress", "always"});
  QVT_EXPECT_EXIT(shown, 0);
  EXPECT_EQ(shown.err.rfind("\rcompress [..............................]   0.0%  0 bytes of 15.7 KiB", 0), 0u)
      << shown.err;
  const std::string end = "\rcompress [##############################] 100.0%  15.7 KiB of 15.7 KiB\n";
  ASSERT_GE(shown.err.size(), end.size());
  EXPECT_EQ(shown.err.substr(shown.err.size() - end.size()), end);
  EXPECT_EQ(ReadAll(m_Dir.File("a.cdb")), ReadAll(m_Dir.File("b.cdb")));
}

}  // namespace
}  // namespace qvt_test
