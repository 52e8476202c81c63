// The zlib engine, and the choice between it and libdeflate.
#include "zip_Codec.h"

#include <zlib.h>

#include "nex_Exception.h"
#include "utl_File.h"
#include "zip_Compress.h"

namespace {

class ZlibEngine : public zip_CodecEngine {
 public:
  explicit ZlibEngine(int level) : m_Level(level) {}
  int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
               unsigned long sourceLen) override {
    return zip_compress2(dest, destLen, source, sourceLen, m_Level);
  }
  int Uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                 unsigned long sourceLen) override {
    return zip_uncompress(dest, destLen, source, sourceLen);
  }
  unsigned long CompressBound(unsigned long sourceLen) const override { return zip_compressBound(sourceLen); }

 private:
  int m_Level;
};

}  // namespace

// QVT_ZIP_ENGINE=zlib keeps zlib even where libdeflate is present: files
// written so hold the same bytes as those of a build without libdeflate.
zip_Engine zip_Codec::Fastest() {
  cow_String choice;
  if (utl_GetEnv("QVT_ZIP_ENGINE", &choice) && choice == "zlib") return zip_Engine::Zlib;
  return Has(zip_Engine::Deflate) ? zip_Engine::Deflate : zip_Engine::Zlib;
}

bool zip_Codec::Has(zip_Engine engine) {
  static const bool hasDeflate = zip_MakeDeflateEngine(1) != nullptr;
  return engine == zip_Engine::Zlib || hasDeflate;
}

zip_Codec::zip_Codec(zip_Engine engine, int level) : m_Engine(engine) {
  NEX_ASSERT(level >= 0 && level <= 9);
  if (engine == zip_Engine::Zlib)
    m_Impl = std::make_unique<ZlibEngine>(level);
  else
    m_Impl = zip_MakeDeflateEngine(level);
  NEX_ASSERT(m_Impl && "zip_Codec engine");
}

zip_Codec::~zip_Codec() = default;
