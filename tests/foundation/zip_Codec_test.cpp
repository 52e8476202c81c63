// Both engines write standard zlib streams: what one compresses, the other
// and zlib's own uncompress restore to the same bytes; damage is refused.
#include "zip_Codec.h"

#include <random>
#include <vector>

#include "zip_Compress.h"
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Sample(int kind, std::size_t size) {
  std::mt19937 rng(42u + static_cast<unsigned>(kind));
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = kind == 0   ? 0
               : kind == 1 ? static_cast<unsigned char>(rng())
                           : static_cast<unsigned char>('a' + (i / 7) % 5);
  return bytes;
}

Bytes Compress(zip_Codec& codec, const Bytes& in) {
  Bytes out(codec.CompressBound(in.size()));
  unsigned long size = out.size();
  EXPECT_EQ(codec.Compress(out.data(), &size, in.data(), in.size()), zip_OK);
  out.resize(size);
  return out;
}

// Restores stream into room bytes with codec (null: zlib's uncompress);
// answers the status and the bytes.
std::pair<int, Bytes> Restore(zip_Codec* codec, const Bytes& stream, std::size_t room) {
  Bytes out(room);
  unsigned long size = room;
  const int rc = codec ? codec->Uncompress(out.data(), &size, stream.data(), stream.size())
                       : zip_uncompress(out.data(), &size, stream.data(), stream.size());
  out.resize(size);
  return {rc, out};
}

// Bytes after a stream are ignored; too small a room and a damaged stream
// are refused by both engines.
TEST(ZipCodec, EachEngineRestoresWhatTheOtherWroteAndRefusesDamage) {
  if (!zip_Codec::Has(zip_Engine::Deflate)) GTEST_SKIP() << "this build has no libdeflate";
  zip_Codec zlib(zip_Engine::Zlib, 6), deflate(zip_Engine::Deflate, 6);
  for (int kind = 0; kind < 3; ++kind) {
    for (std::size_t size : {std::size_t{0}, std::size_t{65536}}) {
      SCOPED_TRACE("kind " + std::to_string(kind) + " size " + std::to_string(size));
      const Bytes in = Sample(kind, size);
      for (auto [writer, reader] : {std::pair{&zlib, &deflate}, std::pair{&deflate, &zlib}}) {
        Bytes stream = Compress(*writer, in);
        stream.push_back(0xEE);
        EXPECT_EQ(Restore(reader, stream, size + 1), std::make_pair(int{zip_OK}, in));
        EXPECT_EQ(Restore(nullptr, stream, size + 1), std::make_pair(int{zip_OK}, in));
      }
    }
  }
  for (zip_Codec* codec : {&zlib, &deflate}) {
    Bytes stream = Compress(*codec, Sample(1, 1000));
    EXPECT_EQ(Restore(codec, stream, 999).first, zip_BUF_ERROR);
    stream[stream.size() / 2] ^= 0x5A;
    EXPECT_NE(Restore(codec, stream, 1000).first, zip_OK);
  }
}

}  // namespace
