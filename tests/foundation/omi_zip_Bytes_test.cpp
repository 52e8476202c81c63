// Bytes converted whole: the fixed-order helpers (database files big-endian,
// the pipe protocol little-endian; the array conversion is checked by every
// stored layout and model the other tests compare), and the two compression
// engines, which both write standard zlib streams: what one compresses, the
// other and zlib's own uncompress restore to the same bytes; damage is refused.
#include <random>
#include <string>
#include <vector>

#include "omi_Swapper.h"
#include "zip_Codec.h"
#include "zip_Compress.h"
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

// The layouts the other tests check hold mostly small values, whose high
// bytes are zero, and none uses the little-endian 64-bit pair: here every
// byte differs.
TEST(Swapper, FixedOrderHelpersPutEveryByteInItsPlace) {
  unsigned char b[8];
  omi_Bytes::PutBE32(b, 0xA1B2C3D4u);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
  omi_Bytes::PutLE64(b, 0x0102030405060708ull);
  EXPECT_EQ(Bytes(b, b + 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(omi_Bytes::GetLE64(b), 0x0102030405060708ull);
}

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
