// Helpers for the array and tagged-stream suites: a fixture parameterized
// over the file kind, the stored bytes of an object, and line-based talk
// with a reader child process.
#ifndef QVT_TESTS_SUPPORT_QVT_OBJECTTESTSUPPORT_H
#define QVT_TESTS_SUPPORT_QVT_OBJECTTESTSUPPORT_H

#include <memory>
#include <string>
#include <vector>

#include "qvt_DatabaseFixture.h"
#include "qvt_DatabaseReprFile.h"
#include <gtest/gtest.h>

namespace qvt_test {

// A suite run once per file kind. A kind this build cannot create is
// skipped, with the reason, rather than failed.
class KindTest : public ::testing::TestWithParam<FileKind> {
 protected:
  KindTest() : m_Files(GetParam()) {}
  void SetUp() override;

  DatabaseFiles& Files() { return m_Files; }
  std::string Path(const std::string& name = "test.odb") const { return m_Files.Path(name); }

 private:
  DatabaseFiles m_Files;
};

// Every file kind, for INSTANTIATE_TEST_SUITE_P.
std::vector<FileKind> AllFileKinds();
std::string KindParamName(const ::testing::TestParamInfo<FileKind>& info);

// The whole content of the space of handle, read through the linkage.
std::vector<unsigned char> ObjectBytes(qvt_DatabaseReprFile& db, qvt_Handle handle);
// The 32-bit big-endian words of bytes from offset on.
std::vector<std::uint32_t> Words(const std::vector<unsigned char>& bytes, std::size_t offset,
                                 std::size_t count);

// In a child process: reads one line from standard input (without its line
// break); "" at the end of input.
std::string ChildReadLine();
// In a child process: writes text and a line break to standard output and
// flushes it, so the parent sees it at once.
void ChildSay(const std::string& text);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_OBJECTTESTSUPPORT_H
