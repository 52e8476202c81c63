// The rollback journal on its own: a writer's in-place changes are saved
// before they land, a recovery puts back exactly the saved bytes, and a
// journal cut or damaged at any byte puts back only its whole, checked
// records. (Readers reading through a journal: the kill sweep.)
#include "qvt_Journal.h"

#include <vector>

#include "qvt_TestSupport.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kCommitted = 8192;
constexpr int kFirst = 100;    // first change: 300 bytes at 100
constexpr int kSecond = 5000;  // second change: 20 bytes at 5000, then growth past the end

TEST(Journal, SavesEachRangeOnceAndRecoveryPutsBackOnlyItsWholeCheckedRecords) {
  qvt_test::ScratchDir dir;
  const std::string path = dir.File("j.odb");
  Bytes committed;
  for (int i = 0; i < kCommitted; ++i) committed.push_back(static_cast<unsigned char>(i * 7));
  qvt_test::WriteAll(path, committed);
  {
    // A writer that dies before its next flush would: the journal is left behind.
    utl_File file(path, utl_FileAccessUpdate);
    qvt_Journal journal(path, file);
    journal.Begin(kCommitted, kCommitted);
    const std::vector<char> ones(300, '\x01'), twos(kCommitted, '\x02');
    journal.Write(kFirst, ones.data(), 300);
    journal.Write(kFirst, ones.data(), 300);  // already saved: no second record
    journal.Write(kSecond, twos.data(), 20);
    journal.Write(kCommitted - 10, twos.data(), 4000);  // partly past the committed end
  }
  const Bytes changed = qvt_test::ReadAll(path), saved = qvt_test::ReadAll(path + "-journal");
  // Header, then one record per changed range: 300 bytes, 20 bytes, 10 bytes.
  ASSERT_EQ(saved.size(), 32u + 3 * 16 + 300 + 20 + 10);
  EXPECT_EQ(qvt_test::BE32(saved, 32 + 4), static_cast<std::uint32_t>(kFirst));
  EXPECT_EQ(qvt_test::BE32(saved, 32 + 8), 300u);
  EXPECT_TRUE(std::equal(saved.begin() + 48, saved.begin() + 348, committed.begin() + kFirst));
  EXPECT_EQ(changed.size(), static_cast<std::size_t>(kCommitted - 10 + 4000));
  // What recovery leaves with this journal in place of the saved one.
  const auto recovered = [&](const Bytes& journalBytes) {
    qvt_test::WriteAll(path, changed);
    qvt_test::WriteAll(path + "-journal", journalBytes);
    utl_File file(path, utl_FileAccessUpdate);
    qvt_Journal(path, file).Recover();
    return qvt_test::ReadAll(path);
  };
  // What recovery should leave when the journal's first `sound` bytes are whole.
  const std::size_t firstEnd = 32 + 16 + 300, secondEnd = firstEnd + 16 + 20;
  const auto expected = [&](std::size_t sound) {
    Bytes bytes = changed;
    if (sound >= 32) bytes.resize(kCommitted);
    if (sound >= firstEnd) std::copy_n(committed.begin() + kFirst, 300, bytes.begin() + kFirst);
    if (sound >= secondEnd) std::copy_n(committed.begin() + kSecond, 20, bytes.begin() + kSecond);
    return sound == saved.size() ? committed : bytes;
  };
  for (std::size_t cut = 0; cut <= saved.size(); ++cut) {
    SCOPED_TRACE("journal cut to " + std::to_string(cut) + " bytes");
    ASSERT_TRUE(recovered({saved.begin(), saved.begin() + cut}) == expected(cut));
  }
  EXPECT_EQ(qvt_test::FileSize(path + "-journal"), 0);
  {
    utl_File file(path, utl_FileAccessUpdate);
    qvt_Journal(path, file).Recover();  // nothing left to apply twice
  }
  EXPECT_TRUE(qvt_test::ReadAll(path) == committed);
  // In the header, and in the second record's header and data.
  for (const std::size_t flipped : {std::size_t{3}, std::size_t{20}, firstEnd + 7, firstEnd + 21}) {
    SCOPED_TRACE("journal byte " + std::to_string(flipped) + " flipped");
    Bytes damaged = saved;
    damaged[flipped] ^= 0x40;
    ASSERT_TRUE(recovered(damaged) == expected(flipped < 32 ? 0 : firstEnd));
  }
}

}  // namespace
