// A zlib-format codec kept across many one-shot calls, so that an engine's
// working state is allocated once, not per buffer. Two engines write the
// same format: zlib itself, and libdeflate where the build found it (several
// times faster at the same level). What one engine writes the other reads.
#ifndef QVT_FOUNDATION_ZIP_CODEC_H
#define QVT_FOUNDATION_ZIP_CODEC_H

#include <memory>

enum class zip_Engine { Zlib, Deflate };

// One engine's one-shot calls; results are the zip_Result codes.
class zip_CodecEngine {
 public:
  virtual ~zip_CodecEngine() = default;
  virtual int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                       unsigned long sourceLen) = 0;
  virtual int Uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                         unsigned long sourceLen) = 0;
  virtual unsigned long CompressBound(unsigned long sourceLen) const = 0;
};

// The libdeflate engine at level (0 to 9), or null when this build has none.
std::unique_ptr<zip_CodecEngine> zip_MakeDeflateEngine(int level);

class zip_Codec {
 public:
  // libdeflate where this build has it, zlib otherwise or when the
  // environment variable QVT_ZIP_ENGINE is "zlib".
  static zip_Engine Fastest();
  static bool Has(zip_Engine engine);

  // REQUIRES: Has(engine), 0 <= level <= 9. THROWS nex_AssertException
  // otherwise, or when the engine cannot allocate its state.
  zip_Codec(zip_Engine engine, int level);
  ~zip_Codec();
  zip_Codec(const zip_Codec&) = delete;
  zip_Codec& operator=(const zip_Codec&) = delete;

  zip_Engine Engine() const { return m_Engine; }

  // As zip_compress2 at this codec's level: *destLen is the room on entry
  // and the stream's size on return.
  int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source, unsigned long sourceLen) {
    return m_Impl->Compress(dest, destLen, source, sourceLen);
  }
  // As zip_uncompress: bytes after the end of the stream are ignored.
  int Uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                 unsigned long sourceLen) {
    return m_Impl->Uncompress(dest, destLen, source, sourceLen);
  }
  // Room that Compress never runs out of for sourceLen bytes.
  unsigned long CompressBound(unsigned long sourceLen) const { return m_Impl->CompressBound(sourceLen); }

 private:
  zip_Engine m_Engine;
  std::unique_ptr<zip_CodecEngine> m_Impl;
};

#endif  // QVT_FOUNDATION_ZIP_CODEC_H
