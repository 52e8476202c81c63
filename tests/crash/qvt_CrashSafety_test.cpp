// Batches written plain and compressed. Other programs read these files, so the journal and the lock
// must leave no trace; a killed writer loses nothing it flushed (QVT_KILL_SWEEP=all tries every kill).
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "nex_Exception.h"
#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_Journal.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"
#include "zip_Compress.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

class BatchFile : public ::testing::TestWithParam<bool> {
 protected:
  // Batches [0, 200) in a new file, then up to 300 after a reopen, with key set to value.
  void Write(const std::string& path, const char* key, const char* value) {
    const ScopedEnv env(key, value);
    WriteBatches(path, GetParam(), true, 200);
    WriteBatches(path, GetParam(), false, 300);
  }
  ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("batches.odb");
  std::string m_Problem;  // what CountSoundBatches finds wrong
};

// Synced, with the default engine (libdeflate makes other streams), the same database bytes.
TEST_P(BatchFile, CleanRunWritesTheReferenceBytesAcrossAReopenSyncedOrNot) {
  const std::string synced = m_Dir.File("synced");
  Write(m_Path, "QVT_ZIP_ENGINE", "zlib");
  Write(synced, "KVR_QVT_SYNC", "1");
  EXPECT_TRUE(GetParam() ? LogicalBytes(synced) == LogicalBytes(m_Path) : ReadAll(synced) == ReadAll(m_Path));
  const std::vector<unsigned char> bytes = ReadAll(m_Path);
  EXPECT_EQ(bytes.size(), GetParam() ? 1421312u : 5499092u);
  EXPECT_EQ(zip_crc32(0, bytes.data(), static_cast<unsigned long>(bytes.size())),
            GetParam() ? 0xf656a3c7ul : 0x9833c934ul);
  EXPECT_EQ(CountSoundBatches(m_Path, &m_Problem), 300) << m_Problem;
}

// A linkage past the end of a compressed file once failed its seek check, whose text reached the caller.
TEST_P(BatchFile, SecondWriterIsRefusedAndALinkagePastTheEndIsReportedCorrupt) {
  WriteBatches(m_Path, GetParam(), true, 3);
  const std::string refusal = "*** ERROR: Another writer has the file open for writing:\n  " + m_Path;
  const std::vector<unsigned char> before = ReadAll(m_Path);
  {
    qvt_File first = qvt_File::Open(m_Path, 1, true);
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(m_Path, 1, true), qvt_FileWriterLockedExc, refusal);
    QVT_EXPECT_THROW_TEXT(GetParam() ? qvt_File::CreateCompressed(m_Path) : qvt_File::Open(m_Path, 2, false),
                          qvt_FileWriterLockedExc, refusal);
    const ChildResult child = RunChild([&] {
      try {
        qvt_File::Open(m_Path, 1, true);
      } catch (const qvt_FileWriterLockedExc& e) {
        return e.AsString() == refusal ? 0 : 1;
      }
      return 2;
    });
    EXPECT_TRUE(child.Succeeded()) << child.exitCode << child.err;
    // Readers are not writers.
    EXPECT_EQ(qvt_Database::Open(qvt_File::Open(m_Path, 0, true), "BTCH").GetFlushCount(), 5);
  }
  EXPECT_TRUE(ReadAll(m_Path) == before);
  WriteBatches(m_Path, GetParam(), false, 4);  // free again once the first one closed
  EXPECT_EQ(CountSoundBatches(m_Path, &m_Problem), 4) << m_Problem;
  {  // entry 0 of linkage block 0 (at 1024) names the next block at 16
    qvt_File file = qvt_File::Open(m_Path, 1, true);
    std::vector<unsigned char> farAway(8);
    PutBEDouble(farAway, 0, 1e9);
    file.Repr()->Seek(1024 + 16);
    ASSERT_EQ(file.Repr()->Write(reinterpret_cast<const char*>(farAway.data()), 8), 8);
  }
  QVT_EXPECT_THROW_TEXT(qvt_Database::Open(qvt_File::Open(m_Path, 0, true), "BTCH"), nex_TextException,
                        "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + m_Path);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BatchFile, ::testing::Bool(),
                         [](const auto& kind) { return kind.param ? "Compressed" : "Plain"; });

constexpr int kBaseBatches = 250;  // a file near the end of linkage block 0
constexpr int kSamplePoints = 10;

bool WholeSweep() { return std::getenv("QVT_KILL_SWEEP") != nullptr; }

// The number after the last "<word> " in a writer's output, -1 when none.
long Last(const std::string& out, const std::string& word) {
  const std::size_t at = out.rfind(word + " ");
  return at == std::string::npos ? -1 : std::stol(out.substr(at + word.size() + 1));
}

// Compressed; torn; continued from a file of kBaseBatches (growing into linkage block 1), else new.
class KillSweep : public ::testing::TestWithParam<std::tuple<bool, bool, bool>> {
 protected:
  // Runs the writer on a fresh copy of the start file, killed before write number killAt (0: never).
  ChildResult RunWriter(long killAt) {
    const auto [compressed, torn, continued] = GetParam();
    static std::map<bool, std::vector<unsigned char>> bases;  // written once per kind
    if (continued && bases.count(compressed) == 0) {
      WriteBatches(m_Path, compressed, true, kBaseBatches);
      bases[compressed] = ReadAll(m_Path);
    }
    (void)std::remove(m_Path.c_str());
    if (continued) WriteAll(m_Path, bases[compressed]);
    // The sanitizers accept the shim loaded ahead of their runtime only when told to.
    std::map<std::string, std::string> env = {{"LD_PRELOAD", QVT_KILL_SHIM},
                                              {"QVT_KILL_AT", std::to_string(killAt)},
                                              {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    if (torn) env["QVT_KILL_TORN"] = "1";
    // A new file: creation, first flushes and growth past the first MiB.
    const int last = continued ? kBaseBatches + (WholeSweep() ? 30 : 12) : (WholeSweep() ? 40 : 20);
    return RunProgram({QVT_BATCH_WRITER, m_Path, compressed ? "compressed" : "plain",
                       continued ? "open" : "create", std::to_string(last)},
                      env);
  }

  ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("killed.odb");
};

TEST_P(KillSweep, ReaderFindsTheLastFlushAndANewWriterGoesOn) {
  const ChildResult full = RunWriter(0);
  ASSERT_TRUE(full.Succeeded()) << full.err;
  const long calls = Last(full.out, "calls");
  ASSERT_GT(calls, 0);
  for (long n = 1; n <= calls; ++n) {
    if (!WholeSweep() && n > 2 && n != calls && n % (calls / kSamplePoints + 1) != 0) continue;
    SCOPED_TRACE("killed before write " + std::to_string(n) + " of " + std::to_string(calls));
    const ChildResult killed = RunWriter(n);
    ASSERT_EQ(killed.signal, SIGKILL) << killed.out << killed.err;
    const long flushed = Last(killed.out, "flushed");
    if (flushed < 0) continue;  // killed before its first flush: a new file holds nothing yet
    std::string problem;
    const int found = CountSoundBatches(m_Path, &problem);
    ASSERT_TRUE(found == flushed || found == flushed + 1)
        << "found " << found << ", flushed " << flushed << ": " << problem;
#ifdef QVTDB_BINARY
    const ChildResult check = RunProgram({QVTDB_BINARY, "check", m_Path});
    ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
#endif
    WriteBatches(m_Path, std::get<0>(GetParam()), false, found + 2);
    ASSERT_EQ(CountSoundBatches(m_Path, &problem), found + 2) << problem;
    ASSERT_FALSE(std::filesystem::exists(m_Path + "-journal")) << "the journal outlived its writer";
  }
}

using ::testing::Bool;
INSTANTIATE_TEST_SUITE_P(Writers, KillSweep, ::testing::Combine(Bool(), Bool(), Bool()), [](const auto& s) {
  return std::string(std::get<0>(s.param) ? "Compressed" : "Plain") +
         (std::get<1>(s.param) ? "Torn" : "Whole") + (std::get<2>(s.param) ? "Continued" : "Created");
});

using Bytes = std::vector<unsigned char>;
constexpr int kCommitted = 8192;
constexpr int kFirst = 100;    // first change: 300 bytes at 100
constexpr int kSecond = 5000;  // second change: 20 bytes at 5000, then growth past the end

TEST(Journal, SavesEachRangeOnceAndRecoveryPutsBackOnlyItsWholeCheckedRecords) {
  ScratchDir dir;
  const std::string path = dir.File("j.odb");
  Bytes committed;
  for (int i = 0; i < kCommitted; ++i) committed.push_back(static_cast<unsigned char>(i * 7));
  WriteAll(path, committed);
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
  const Bytes changed = ReadAll(path), saved = ReadAll(path + "-journal");
  // Header, then one record per changed range: 300 bytes, 20 bytes, 10 bytes.
  ASSERT_EQ(saved.size(), 32u + 3 * 16 + 300 + 20 + 10);
  EXPECT_EQ(std::make_pair(BE32(saved, 32 + 4), BE32(saved, 32 + 8)), std::pair(std::uint32_t{kFirst}, 300u));
  EXPECT_TRUE(std::equal(saved.begin() + 48, saved.begin() + 348, committed.begin() + kFirst));
  EXPECT_EQ(changed.size(), static_cast<std::size_t>(kCommitted - 10 + 4000));
  // What recovery leaves with this journal in place of the saved one.
  const auto recovered = [&](const Bytes& journalBytes) {
    WriteAll(path, changed);
    WriteAll(path + "-journal", journalBytes);
    utl_File file(path, utl_FileAccessUpdate);
    qvt_Journal(path, file).Recover();
    return ReadAll(path);
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
  EXPECT_EQ(FileSize(path + "-journal"), 0);
  {
    utl_File file(path, utl_FileAccessUpdate);
    qvt_Journal(path, file).Recover();  // nothing left to apply twice
  }
  EXPECT_TRUE(ReadAll(path) == committed);
  // In the header, and in the second record's header and data.
  for (const std::size_t flipped : {std::size_t{3}, std::size_t{20}, firstEnd + 7, firstEnd + 21}) {
    SCOPED_TRACE("journal byte " + std::to_string(flipped) + " flipped");
    Bytes damaged = saved;
    damaged[flipped] ^= 0x40;
    ASSERT_TRUE(recovered(damaged) == expected(flipped < 32 ? 0 : firstEnd));
  }
}

}  // namespace
}  // namespace qvt_test
