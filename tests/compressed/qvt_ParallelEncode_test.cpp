// Worker threads store what the writer's thread alone stores (seeded writes
// past the cache and back into segments being encoded, flushes, extensions,
// cuts, closing in flight), read back segments whose stores wait, and report
// a failed encoding once, by the store that needed it, which tries it again.
#include <atomic>
#include <random>

#include "qvt_CompressedTestSupport.h"
#include "qvt_FileReprEncoded.h"
#include <gtest/gtest.h>

namespace {
constexpr int kS = qvt_FileReprEncoded::kDefaultSegmentSize;
struct OneThreadCodec : qvt_CodecZip {};  // derived, so it gives no copies
// The zlib codec and its copies, failing the encode that brings the count to 0.
struct FailingCodec : qvt_CodecZip {
  explicit FailingCodec(std::atomic<int>* left) : m_Left(left) {}
  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override {
    NEX_ASSERT(--*m_Left != 0);
    qvt_CodecZip::Encode(out, in, length);
  }
  std::unique_ptr<qvt_Codec> CopyForThread() const override { return std::make_unique<FailingCodec>(m_Left); }
  std::atomic<int>* m_Left;
};
TEST(ParallelEncodeTest, StoresTheBytesAndReportsTheErrorsOfOneThread) {
  qvt_test::ScratchDir dir;
  for (const bool alone : {false, true}) {
    qvt_FileReprEncoded file(dir.File(alone ? "1" : "0"),
                             std::unique_ptr<qvt_Codec>(alone ? new OneThreadCodec : new qvt_CodecZip), kS);
    std::mt19937 rng(4242);
    for (int step = 0; step < 300; ++step) {
      const std::uint32_t op = rng() % 10, n = rng() % 250000;
      if (op < 3) file.Seek(n * 16 % (file.Length() + 1));
      if (op < 7 && file.Location() < (4 << 20))
        file.Write(qvt_ctest::CompressibleBytes(n, n).data(), static_cast<int>(n));
      else if (op > 7)
        op < 9 ? file.Flush() : (void)file.ExtendFile(n % 2 ? n / 8 : -(n * 8 % (file.Location() + 1)));
    }
  }
  EXPECT_TRUE(qvt_test::ReadAll(dir.File("0")) == qvt_test::ReadAll(dir.File("1")));
  std::atomic<int> left(30);
  const std::vector<char> bytes = qvt_ctest::CompressibleBytes(60 * kS, 5);
  std::string failures;
  auto file = std::make_unique<qvt_FileReprEncoded>(dir.File("f"), std::make_unique<FailingCodec>(&left), kS);
  for (int i = 0; i < 60; ++i) {
    try {
      file->Write(bytes.data() + i * kS, kS);
    } catch (const nex_AssertException& e) {
      failures += e.AsString().c_str();
    }
  }
  std::vector<char> back(bytes.size());
  for (int i = 59; i >= 0; --i) file->Seek(i * kS), file->Read(back.data() + i * kS, kS);
  file.reset();
  EXPECT_EQ(failures, "--*m_Left != 0");
  EXPECT_TRUE(back == bytes);
}
}  // namespace
