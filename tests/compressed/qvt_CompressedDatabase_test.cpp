// A whole database on a compressed file, next to the same database on a
// plain file: written, closed, reopened for reading and for update. The
// compressed one must read back what the plain one does, hold the same
// logical bytes, show exactly the changes of an update, and be left byte for
// byte alone by a reader. This is also the suite of the core on every kind.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvt_CompressedTestSupport.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_FileReprEncoded.h"
#include "qvt_SpaceRepr.h"
#include "qvt_StringManagerFile.h"

namespace {

using qvt_test::FileKind;

// Spaces of the database and what each holds.
struct Content {
  std::vector<qvt_Handle> handles;
  std::vector<std::vector<char>> bytes;
  std::vector<std::string> strings;
  std::vector<utl_FileOffset> stringOffsets;
};

// Adds count spaces of seeded sizes (a few far larger than the 1 MiB the
// compressed file's cache keeps) and count pooled strings.
void Add(qvt_DatabaseReprFile& db, Content& content, int count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<qvt_SpaceRepr> space(db.Space(-1));
    const std::size_t size = (i % 90 == 7) ? 1200000 + rng() % 100000 : rng() % 3000;
    std::vector<char> bytes = qvt_ctest::CompressibleBytes(size, static_cast<std::uint32_t>(rng()));
    if (!bytes.empty()) {
      EXPECT_EQ(space->Write(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    }
    space->Flush();
    content.handles.push_back(space->Handle());
    content.bytes.push_back(std::move(bytes));
    const std::string text = "string " + std::to_string(seed) + "/" + std::to_string(i);
    content.stringOffsets.push_back(db.StringPool().StringOffset(text));
    content.strings.push_back(text);
  }
}

void Check(qvt_DatabaseReprFile& db, const Content& content) {
  for (std::size_t i = 0; i < content.handles.size(); ++i) {
    std::unique_ptr<qvt_SpaceRepr> space(db.Space(content.handles[i], -1));
    ASSERT_EQ(space->Length(), static_cast<utl_FileOffset>(content.bytes[i].size())) << i;
    std::vector<char> got(content.bytes[i].size());
    if (!got.empty()) {
      ASSERT_EQ(space->Read(got.data(), static_cast<int>(got.size())), static_cast<int>(got.size())) << i;
    }
    ASSERT_EQ(got, content.bytes[i]) << i;
    ASSERT_EQ(db.StringPool().String(content.stringOffsets[i]), content.strings[i]) << i;
  }
}

using qvt_test::LogicalBytes;

class CompressedDatabaseTest : public qvt_test::KindTest {};

TEST_P(CompressedDatabaseTest, WrittenDatabaseReadsBackTheSame) {
  Content content;
  {
    auto db = m_Files.Create();
    Add(*db, content, 700, 1);  // more spaces than one linkage block holds
    db->Flush();
    Check(*db, content);
  }
  EXPECT_EQ(qvt_FileReprEncoded::IsCompressedFile(m_Files.Path()), GetParam() == FileKind::Compressed);
  const std::vector<unsigned char> before = qvt_test::ReadAll(m_Files.Path());
  {
    auto db = m_Files.Open();
    EXPECT_EQ(db->GetFlushCount(), 2);
    EXPECT_EQ(db->Description(), "qvt test database");
    EXPECT_EQ(qvt_DatabaseReprFile::GetCreationTime(db->File()), 20240101);
    Check(*db, content);
    EXPECT_FALSE(db->Snap());
  }
  EXPECT_EQ(qvt_test::ReadAll(m_Files.Path()), before);  // a reader leaves the file byte for byte
}

TEST_P(CompressedDatabaseTest, UpdateShowsExactlyTheChange) {
  Content content;
  {
    auto db = m_Files.Create();
    Add(*db, content, 120, 2);
  }
  {
    auto db = m_Files.Open("test.odb", false);
    Check(*db, content);
    Add(*db, content, 60, 3);
    // Rewrite one space shorter and one in the middle.
    std::unique_ptr<qvt_SpaceRepr> shorter(db->Space(content.handles[7], -1));
    shorter->Truncate(1000);
    shorter->Flush();
    content.bytes[7].resize(1000);
    std::unique_ptr<qvt_SpaceRepr> middle(db->Space(content.handles[3], -1));
    const std::vector<char> patch(static_cast<std::size_t>(std::min<std::size_t>(content.bytes[3].size(), 100)), 'P');
    middle->Seek(0);
    if (!patch.empty()) middle->Write(patch.data(), static_cast<int>(patch.size()));
    middle->Flush();
    std::copy(patch.begin(), patch.end(), content.bytes[3].begin());
  }
  auto db = m_Files.Open();
  EXPECT_EQ(db->GetFlushCount(), 2);
  Check(*db, content);
}

INSTANTIATE_TEST_SUITE_P(FileKinds, CompressedDatabaseTest, ::testing::ValuesIn(qvt_test::AllFileKinds()),
                         qvt_test::KindParamName);

// The same operations on both kinds give the same logical bytes, except the
// size record, which only a plain file keeps (a compressed file's container
// knows its own size).
TEST(CompressedAgainstPlain, SameDatabaseHasTheSameLogicalBytes) {
  qvt_test::DatabaseFiles plain(FileKind::Local);
  qvt_test::DatabaseFiles packed(FileKind::Compressed);
  for (qvt_test::DatabaseFiles* files : {&plain, &packed}) {
    Content content;
    auto db = files->Create();
    Add(*db, content, 300, 5);
    db->Flush();
    Add(*db, content, 10, 6);
  }
  std::vector<char> a = LogicalBytes(plain.Path());
  std::vector<char> b = LogicalBytes(packed.Path());
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GT(a.size(), 512u);
  std::fill(a.begin() + 500, a.begin() + 512, 0);
  std::fill(b.begin() + 500, b.begin() + 512, 0);
  EXPECT_TRUE(a == b);
  EXPECT_LT(qvt_test::FileSize(packed.Path()), qvt_test::FileSize(plain.Path()) / 2);
}

}  // namespace
