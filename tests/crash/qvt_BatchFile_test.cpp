// Files written in batches, plain and compressed. A clean run writes the
// bytes the library wrote before it had a journal and a writer lock (other
// programs read these files, so the protection must leave no trace): the
// sizes and CRC-32s below are those files', compressed by zlib; libdeflate
// makes other zlib streams of the same database bytes. One writer at a time
// holds a file, and a damaged linkage is reported as damage.
#include "nex_Exception.h"
#include "qvt_BatchWorkload.h"
#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include "zip_Compress.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::CountSoundBatches;
using qvt_test::ReadAll;
using qvt_test::WriteBatches;

class BatchFile : public ::testing::TestWithParam<bool> {
 protected:
  // Batches [0, first) in a new file, then up to last after a reopen.
  void Write(const std::string& path, int first, int last) {
    WriteBatches(path, GetParam(), true, first);
    WriteBatches(path, GetParam(), false, last);
  }
  qvt_test::ScratchDir m_Dir;
  const std::string m_Path = m_Dir.File("batches.odb");
  std::string m_Problem;  // what CountSoundBatches finds wrong
};

// The file forced to the disk at each flush, with the default engine, holds
// the same database bytes.
TEST_P(BatchFile, CleanRunWritesTheReferenceBytesAcrossAReopenSyncedOrNot) {
  {
    const qvt_test::ScopedEnv zlib("QVT_ZIP_ENGINE", "zlib");
    Write(m_Path, 200, 300);
  }
  const std::string synced = m_Dir.File("synced");
  {
    const qvt_test::ScopedEnv sync("KVR_QVT_SYNC", "1");
    Write(synced, 200, 300);
  }
  EXPECT_TRUE(GetParam() ? qvt_test::LogicalBytes(synced) == qvt_test::LogicalBytes(m_Path)
                         : ReadAll(synced) == ReadAll(m_Path));
  const std::vector<unsigned char> bytes = ReadAll(m_Path);
  EXPECT_EQ(bytes.size(), GetParam() ? 1421312u : 5499092u);
  EXPECT_EQ(zip_crc32(0, bytes.data(), static_cast<unsigned long>(bytes.size())),
            GetParam() ? 0xf656a3c7ul : 0x9833c934ul);
  EXPECT_EQ(CountSoundBatches(m_Path, &m_Problem), 300) << m_Problem;
}

// A second writer, here or in another process, is refused and changes
// nothing. A linkage whose next block lay beyond the end of a compressed file
// once failed the compressed file's seek check, whose text reached the caller.
TEST_P(BatchFile, SecondWriterIsRefusedAndALinkagePastTheEndIsReportedCorrupt) {
  WriteBatches(m_Path, GetParam(), true, 3);
  const std::string refusal = "*** ERROR: Another writer has the file open for writing:\n  " + m_Path;
  const std::vector<unsigned char> before = ReadAll(m_Path);
  {
    qvt_File first = qvt_File::Open(m_Path, 1, true);
    QVT_EXPECT_THROW_TEXT(qvt_File::Open(m_Path, 1, true), qvt_FileWriterLockedExc, refusal);
    QVT_EXPECT_THROW_TEXT(GetParam() ? qvt_File::CreateCompressed(m_Path) : qvt_File::Open(m_Path, 2, false),
                          qvt_FileWriterLockedExc, refusal);
    const qvt_test::ChildResult child = qvt_test::RunChild([&] {
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
  {
    // Entry 0 of linkage block 0 (at 1024) names the next block at 16.
    qvt_File file = qvt_File::Open(m_Path, 1, true);
    std::vector<unsigned char> farAway(8);
    qvt_test::PutBEDouble(farAway, 0, 1e9);
    file.Repr()->Seek(1024 + 16);
    ASSERT_EQ(file.Repr()->Write(reinterpret_cast<const char*>(farAway.data()), 8), 8);
  }
  QVT_EXPECT_THROW_TEXT(qvt_Database::Open(qvt_File::Open(m_Path, 0, true), "BTCH"), nex_TextException,
                        "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + m_Path);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BatchFile, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) {
                           return kind.param ? "Compressed" : "Plain";
                         });

}  // namespace
