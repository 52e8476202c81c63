// Built where CMake found no libdeflate: zlib is then the only engine.
#include "zip_Codec.h"

std::unique_ptr<zip_CodecEngine> zip_MakeDeflateEngine(int) { return nullptr; }
