// The libdeflate engine, built where CMake found libdeflate; it writes and
// reads the same zlib streams as zlib does.
#include <libdeflate.h>

#include "zip_Codec.h"
#include "zip_Compress.h"

namespace {

class DeflateEngine : public zip_CodecEngine {
 public:
  DeflateEngine(libdeflate_compressor* compressor, libdeflate_decompressor* decompressor)
      : m_Compressor(compressor), m_Decompressor(decompressor) {}
  ~DeflateEngine() override {
    libdeflate_free_compressor(m_Compressor);
    libdeflate_free_decompressor(m_Decompressor);
  }
  DeflateEngine(const DeflateEngine&) = delete;
  DeflateEngine& operator=(const DeflateEngine&) = delete;

  int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
               unsigned long sourceLen) override {
    const std::size_t size = libdeflate_zlib_compress(m_Compressor, source, sourceLen, dest, *destLen);
    if (size == 0) return zip_BUF_ERROR;
    *destLen = size;
    return zip_OK;
  }

  int Uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                 unsigned long sourceLen) override {
    std::size_t restored = 0;
    switch (libdeflate_zlib_decompress(m_Decompressor, source, sourceLen, dest, *destLen, &restored)) {
      case LIBDEFLATE_SUCCESS:
        *destLen = restored;
        return zip_OK;
      case LIBDEFLATE_INSUFFICIENT_SPACE:
        return zip_BUF_ERROR;
      default:
        return zip_DATA_ERROR;
    }
  }

  unsigned long CompressBound(unsigned long sourceLen) const override {
    return libdeflate_zlib_compress_bound(m_Compressor, sourceLen);
  }

 private:
  libdeflate_compressor* m_Compressor;
  libdeflate_decompressor* m_Decompressor;
};

}  // namespace

std::unique_ptr<zip_CodecEngine> zip_MakeDeflateEngine(int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  if (compressor == nullptr || decompressor == nullptr) {
    libdeflate_free_compressor(compressor);
    libdeflate_free_decompressor(decompressor);
    return nullptr;
  }
  return std::make_unique<DeflateEngine>(compressor, decompressor);
}
