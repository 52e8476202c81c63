// Opening a damaged file reports damage, never the text of an internal
// check: a linkage whose next block lies beyond the end of a compressed
// file made the compressed file's seek check fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "qvt_BatchWorkload.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "nex_Exception.h"
#include "qvt_TestSupport.h"

namespace {

class DamagedOpen : public ::testing::TestWithParam<bool> {};

TEST_P(DamagedOpen, LinkageLeadingPastTheEndIsReportedCorrupt) {
  qvt_test::ScratchDir dir;
  const std::string path = dir.File("damaged.odb");
  qvt_test::WriteBatches(path, GetParam(), true, 2);
  {
    // Entry 0 of linkage block 0 names the next block: put it far beyond the end.
    qvt_File file = qvt_File::Open(path, 1, true);
    const double farAway = 1e9;
    std::uint64_t bits;
    std::memcpy(&bits, &farAway, sizeof bits);
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    file.Repr()->Seek(1024 + 16);
    ASSERT_EQ(file.Repr()->Write(reinterpret_cast<const char*>(bytes), 8), 8);
  }
  QVT_EXPECT_THROW_TEXT(qvt_Database::Open(qvt_File::Open(path, 0, true), "BTCH"), nex_TextException,
                        "***ERROR: Unable to procede.  KELVOR database file is corrupt:\n  " + path);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedOpen, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Compressed" : "Plain"; });

}  // namespace
