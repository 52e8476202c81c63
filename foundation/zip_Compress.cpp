// zlib behind the compression library's names.
#include "zip_Compress.h"

#include <zlib.h>

static_assert(zip_OK == Z_OK && zip_MEM_ERROR == Z_MEM_ERROR && zip_BUF_ERROR == Z_BUF_ERROR &&
                  zip_DATA_ERROR == Z_DATA_ERROR && zip_STREAM_ERROR == Z_STREAM_ERROR,
              "zip result codes are zlib's");

int zip_compress2(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                  unsigned long sourceLen, int level) {
  uLongf room = *destLen;
  const int result = compress2(dest, &room, source, sourceLen, level);
  *destLen = room;
  return result;
}

int zip_uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                   unsigned long sourceLen) {
  uLongf room = *destLen;
  const int result = uncompress(dest, &room, source, sourceLen);
  *destLen = room;
  return result;
}

unsigned long zip_compressBound(unsigned long sourceLen) { return compressBound(sourceLen); }

unsigned long zip_crc32(unsigned long crc, const unsigned char* bytes, unsigned long length) {
  return crc32(crc, bytes, static_cast<uInt>(length));
}
