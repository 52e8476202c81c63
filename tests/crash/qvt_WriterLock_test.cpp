// One writer per file: a second writer, in this process or another, is
// refused with the file's name and changes nothing; readers are not.
#include <gtest/gtest.h>

#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_TestSupport.h"

namespace {

class WriterLock : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { qvt_test::WriteBatches(m_Path, GetParam(), true, 3); }
  std::string Refusal() const { return "*** ERROR: Another writer has the file open for writing:\n  " + m_Path; }
  qvt_File Create() const { return GetParam() ? qvt_File::CreateCompressed(m_Path) : qvt_File::Open(m_Path, 2, false); }

  qvt_test::ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("one.odb");
};

TEST_P(WriterLock, SecondWriterInThisProcessIsRefusedAndChangesNothing) {
  const std::vector<unsigned char> before = qvt_test::ReadAll(m_Path);
  {
    qvt_File first = qvt_File::Open(m_Path, 1, true);
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(m_Path, 1, true), qvt_FileWriterLockedExc, Refusal());
    QVT_EXPECT_THROW_TEXT(Create(), qvt_FileWriterLockedExc, Refusal());
    qvt_Database reader = qvt_Database::Open(qvt_File::Open(m_Path, 0, true), "BTCH");
    EXPECT_EQ(reader.GetFlushCount(), 5);
  }
  EXPECT_TRUE(qvt_test::ReadAll(m_Path) == before);
  qvt_test::WriteBatches(m_Path, GetParam(), false, 4);  // free again once the first one closed
  std::string problem;
  EXPECT_EQ(qvt_test::CountSoundBatches(m_Path, &problem), 4) << problem;
}

TEST_P(WriterLock, WriterInAnotherProcessIsRefused) {
  qvt_File first = qvt_File::Open(m_Path, 1, true);
  const qvt_test::ChildResult child = qvt_test::RunChild([this] {
    try {
      qvt_File::Open(m_Path, 1, true);
    } catch (const qvt_FileWriterLockedExc& e) {
      return e.AsString() == Refusal() ? 0 : 1;
    }
    return 2;
  });
  EXPECT_TRUE(child.Succeeded()) << child.exitCode << child.err;
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriterLock, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Compressed" : "Plain"; });

}  // namespace
