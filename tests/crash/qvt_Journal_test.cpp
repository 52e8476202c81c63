// The rollback journal on its own: a writer's in-place changes are saved
// before they land, a reader reads through them, a recovery puts back
// exactly the saved bytes, and a journal cut or damaged at any byte puts
// back only its whole, checked records.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "qvt_Journal.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace {

constexpr int kCommitted = 8192;
constexpr int kFirst = 100;    // first change: 300 bytes at 100
constexpr int kSecond = 5000;  // second change: 20 bytes at 5000, then growth past the end

class JournalTest : public ::testing::Test {
 protected:
  // Writes the committed file, then changes it as a writer that dies before
  // its next flush would: the journal is left behind.
  void SetUp() override {
    for (int i = 0; i < kCommitted; ++i) m_Committed.push_back(static_cast<unsigned char>(i * 7));
    qvt_test::WriteAll(m_Path, m_Committed);
    utl_File file(m_Path, utl_FileAccessUpdate);
    qvt_Journal journal(m_Path, file);
    journal.Begin(kCommitted, kCommitted);
    const std::vector<char> ones(300, '\x01');
    const std::vector<char> twos(kCommitted, '\x02');
    journal.Write(kFirst, ones.data(), 300);
    journal.Write(kFirst, ones.data(), 300);  // already saved: no second record
    journal.Write(kSecond, twos.data(), 20);
    journal.Write(kCommitted - 10, twos.data(), 4000);  // partly past the committed end
    m_Changed = qvt_test::ReadAll(m_Path);
    m_Journal = qvt_test::ReadAll(m_Path + "-journal");
  }

  std::vector<unsigned char> Recovered() {
    utl_File file(m_Path, utl_FileAccessUpdate);
    qvt_Journal(m_Path, file).Recover();
    return qvt_test::ReadAll(m_Path);
  }

  qvt_test::ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("j.odb");
  std::vector<unsigned char> m_Committed, m_Changed, m_Journal;
};

TEST_F(JournalTest, SavesEachRangeOnceAReaderReadsThroughAndRecoveryPutsBackTheFlush) {
  // Header, then one record per changed range: 300 bytes, 20 bytes, 10 bytes.
  ASSERT_EQ(m_Journal.size(), 32u + 3 * 16 + 300 + 20 + 10);
  EXPECT_EQ(qvt_test::BE32(m_Journal, 32 + 4), static_cast<std::uint32_t>(kFirst));
  EXPECT_EQ(qvt_test::BE32(m_Journal, 32 + 8), 300u);
  EXPECT_TRUE(std::equal(m_Journal.begin() + 48, m_Journal.begin() + 348, m_Committed.begin() + kFirst));
  EXPECT_EQ(m_Changed.size(), static_cast<std::size_t>(kCommitted - 10 + 4000));
  {
    utl_File file(m_Path, utl_FileAccessRead);
    qvt_Journal journal(m_Path, file);
    ASSERT_EQ(journal.LoadForReading(), kCommitted);
    std::vector<char> seen(kCommitted);
    file.Seek(0);
    ASSERT_EQ(file.Read(seen.data(), kCommitted), kCommitted);
    journal.Overlay(0, seen.data(), kCommitted);
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), reinterpret_cast<const char*>(m_Committed.data())));
  }
  EXPECT_TRUE(Recovered() == m_Committed);
  EXPECT_EQ(qvt_test::FileSize(m_Path + "-journal"), 0);
  EXPECT_TRUE(Recovered() == m_Committed);  // nothing left to apply twice
}

// Recovery puts back only whole, checked records: those before a cut, or
// before a damaged record; a cut or damaged header voids the journal.
TEST_F(JournalTest, CutOrDamagedJournalRollsBackOnlyItsSoundRecords) {
  const std::size_t firstEnd = 32 + 16 + 300, secondEnd = firstEnd + 16 + 20;
  // What recovery leaves when the journal's first `sound` bytes are whole.
  const auto expected = [&](std::size_t sound) {
    std::vector<unsigned char> bytes = m_Changed;
    if (sound >= 32) bytes.resize(kCommitted);
    if (sound >= firstEnd) std::copy_n(m_Committed.begin() + kFirst, 300, bytes.begin() + kFirst);
    if (sound >= secondEnd) std::copy_n(m_Committed.begin() + kSecond, 20, bytes.begin() + kSecond);
    return sound == m_Journal.size() ? m_Committed : bytes;
  };
  const auto recovered = [&](const std::vector<unsigned char>& journal) {
    qvt_test::WriteAll(m_Path, m_Changed);
    qvt_test::WriteAll(m_Path + "-journal", journal);
    return Recovered();
  };
  for (std::size_t cut = 0; cut <= m_Journal.size(); ++cut) {
    SCOPED_TRACE("journal cut to " + std::to_string(cut) + " bytes");
    ASSERT_TRUE(recovered({m_Journal.begin(), m_Journal.begin() + cut}) == expected(cut));
  }
  // In the header, and in the second record's header and data.
  for (const std::size_t flipped : {std::size_t{3}, std::size_t{20}, firstEnd + 7, firstEnd + 21}) {
    SCOPED_TRACE("journal byte " + std::to_string(flipped) + " flipped");
    std::vector<unsigned char> damaged = m_Journal;
    damaged[flipped] ^= 0x40;
    ASSERT_TRUE(recovered(damaged) == expected(flipped < 32 ? 0 : firstEnd));
  }
}

}  // namespace
