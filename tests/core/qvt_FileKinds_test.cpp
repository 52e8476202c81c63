// The database core on every kind of file: the same database written and
// read back through a local and a compressed file.
#include <memory>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_IOBuffer.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

class FileKindTest : public ::testing::TestWithParam<FileKind> {
 protected:
  FileKindTest() : m_Files(GetParam()) {}
  DatabaseFiles m_Files;
};

TEST_P(FileKindTest, WritesAndReopensTheSameDatabase) {
  std::vector<utl_FileOffset> refs;
  {
    auto db = m_Files.Create("kinds.odb", "KIND", "on every kind", 99);
    EXPECT_EQ(db->GetFlushCount(), 0);
    std::unique_ptr<qvt_SpaceRepr> a(db->Space(-1));
    std::unique_ptr<qvt_SpaceRepr> b(db->Space(64));
    EXPECT_EQ(a->Handle(), 4u);
    EXPECT_EQ(b->Handle(), 5u);
    for (int i = 0; i < 2000; ++i) {
      a->WriteInt(i);
      if (i % 100 == 0) b->WriteDouble(i * 0.5);
    }
    {
      qvt_IOBuffer buffer(*b, 256);
      for (int i = 0; i < 100; ++i) buffer.WriteString("text " + std::to_string(i % 10));
    }
    for (int i = 0; i < 10; ++i) refs.push_back(db->StringPool().StringOffset("text " + std::to_string(i)));
    db->Flush();
    EXPECT_EQ(db->GetFlushCount(), 1);
  }
  auto reader = m_Files.Open("kinds.odb", true, "KIND");
  EXPECT_EQ(reader->GetFlushCount(), 2);
  EXPECT_EQ(reader->Description(), "on every kind");
  EXPECT_EQ(qvt_DatabaseReprFile::GetCreationTime(reader->File()), 99);
  std::unique_ptr<qvt_SpaceRepr> a(reader->Space(4, -1));
  ASSERT_EQ(a->Length(), 8000);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(a->ReadInt(), i);
  std::unique_ptr<qvt_SpaceRepr> b(reader->Space(5, -1));
  qvt_IOBuffer buffer(*b, 100);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(buffer.ReadDouble(), i * 50.0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(buffer.ReadString(), "text " + std::to_string(i % 10));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(reader->StringPool().String(refs[static_cast<std::size_t>(i)]), "text " + std::to_string(i));
  }
}

TEST_P(FileKindTest, UpdateContinuesTheDatabase) {
  m_Files.Create("kinds.odb").reset();
  {
    auto writer = m_Files.Open("kinds.odb", false);
    std::unique_ptr<qvt_SpaceRepr> s(writer->Space(-1));
    EXPECT_EQ(s->Handle(), 4u);
    s->WriteString("updated");
  }
  auto reader = m_Files.Open("kinds.odb");
  EXPECT_EQ(reader->GetFlushCount(), 2);
  std::unique_ptr<qvt_SpaceRepr> s(reader->Space(4, -1));
  EXPECT_EQ(s->ReadString(), "updated");
}

INSTANTIATE_TEST_SUITE_P(AllKinds, FileKindTest, ::testing::Values(FileKind::Local, FileKind::Compressed),
                         [](const ::testing::TestParamInfo<FileKind>& kind) {
                           return std::string(FileKindName(kind.param));
                         });

}  // namespace
