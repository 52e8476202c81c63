// Helpers for the array and tagged-stream suites.
#include "qvt_ObjectTestSupport.h"

#include <cstdio>
#include <cstring>

#include "nex_Exception.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

namespace qvt_test {

void KindTest::SetUp() {
  if (GetParam() != FileKind::Compressed) return;
  try {
    OpenFileOfKind(FileKind::Compressed, m_Files.Path("probe.odb"), 2);
  } catch (const nex_Exception& e) {
    GTEST_SKIP() << "compressed files unavailable in this build: " << e.AsString();
  }
}

std::vector<FileKind> AllFileKinds() { return {FileKind::Local, FileKind::Compressed}; }

std::string KindParamName(const ::testing::TestParamInfo<FileKind>& info) { return FileKindName(info.param); }

std::vector<unsigned char> ObjectBytes(qvt_DatabaseReprFile& db, qvt_Handle handle) {
  std::unique_ptr<qvt_SpaceRepr> space(db.Space(handle, -1));
  const auto length = static_cast<std::size_t>(space->Length());
  std::vector<unsigned char> bytes(length);
  space->Seek(0);
  if (length > 0) {
    const int got = space->Read(reinterpret_cast<char*>(bytes.data()), static_cast<int>(length));
    EXPECT_EQ(static_cast<std::size_t>(got), length);
  }
  return bytes;
}

std::vector<std::uint32_t> Words(const std::vector<unsigned char>& bytes, std::size_t offset,
                                 std::size_t count) {
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < count; ++i) words.push_back(BE32(bytes, offset + 4 * i));
  return words;
}

std::string ChildReadLine() {
  std::string line;
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  return line;
}

void ChildSay(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace qvt_test
