// Both engines write standard zlib streams: what one compresses, the other
// and zlib's own uncompress restore to the same bytes.
#include "zip_Codec.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "zip_Compress.h"

namespace {

std::vector<unsigned char> Sample(int kind, std::size_t size) {
  std::mt19937 rng(42u + static_cast<unsigned>(kind));
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = kind == 0 ? 0 : kind == 1 ? static_cast<unsigned char>(rng()) : static_cast<unsigned char>('a' + (i / 7) % 5);
  return bytes;
}

std::vector<unsigned char> Compress(zip_Codec& codec, const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out(codec.CompressBound(in.size()));
  unsigned long size = out.size();
  EXPECT_EQ(codec.Compress(out.data(), &size, in.data(), in.size()), zip_OK);
  out.resize(size);
  return out;
}

TEST(ZipCodec, EachEngineRestoresWhatTheOtherWrote) {
  if (!zip_Codec::Has(zip_Engine::Deflate)) GTEST_SKIP() << "this build has no libdeflate";
  zip_Codec zlib(zip_Engine::Zlib, 6), deflate(zip_Engine::Deflate, 6);
  for (int kind = 0; kind < 3; ++kind) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65536}}) {
      SCOPED_TRACE("kind " + std::to_string(kind) + " size " + std::to_string(size));
      const std::vector<unsigned char> in = Sample(kind, size);
      for (auto [writer, reader] : {std::pair{&zlib, &deflate}, std::pair{&deflate, &zlib}}) {
        std::vector<unsigned char> stream = Compress(*writer, in);
        stream.push_back(0xEE);  // bytes after the stream are ignored
        std::vector<unsigned char> out(size + 1);
        unsigned long restored = out.size();
        ASSERT_EQ(reader->Uncompress(out.data(), &restored, stream.data(), stream.size()), zip_OK);
        out.resize(restored);
        EXPECT_EQ(out, in);
        restored = out.size() + 1;
        out.resize(restored);
        ASSERT_EQ(zip_uncompress(out.data(), &restored, stream.data(), stream.size()), zip_OK);
        out.resize(restored);
        EXPECT_EQ(out, in);
      }
    }
  }
}

TEST(ZipCodec, DamagedOrOversizedStreamsAreRefusedAlike) {
  for (zip_Engine engine : {zip_Engine::Zlib, zip_Engine::Deflate}) {
    if (!zip_Codec::Has(engine)) continue;
    zip_Codec codec(engine, 6);
    std::vector<unsigned char> stream = Compress(codec, Sample(1, 1000));
    std::vector<unsigned char> out(999);
    unsigned long room = out.size();
    EXPECT_EQ(codec.Uncompress(out.data(), &room, stream.data(), stream.size()), zip_BUF_ERROR);
    stream[stream.size() / 2] ^= 0x5A;
    out.resize(1000);
    room = out.size();
    EXPECT_NE(codec.Uncompress(out.data(), &room, stream.data(), stream.size()), zip_OK);
  }
}

}  // namespace
