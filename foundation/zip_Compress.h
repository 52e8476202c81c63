// The compression library: zlib's one-shot compress2 and uncompress under
// the names the rest of the system calls, plus the bound that makes
// compress2 never run out of room. Results are zlib's own codes.
#ifndef QVT_FOUNDATION_ZIP_COMPRESS_H
#define QVT_FOUNDATION_ZIP_COMPRESS_H

// zlib's result codes that callers may test for.
enum zip_Result {
  zip_OK = 0,
  zip_MEM_ERROR = -4,
  zip_BUF_ERROR = -5,
  zip_DATA_ERROR = -3,
  zip_STREAM_ERROR = -2
};

// Compresses sourceLen bytes at source into dest at the given level (0 to
// 9). On entry *destLen is the room in dest; on return it is the size of the
// compressed stream. Returns zip_OK, or zip_BUF_ERROR when dest is too
// small, zip_MEM_ERROR, zip_STREAM_ERROR for a bad level.
int zip_compress2(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                  unsigned long sourceLen, int level);

// Restores a stream made by zip_compress2. On entry *destLen is the room in
// dest; on return the number of bytes restored. Bytes after the end of the
// stream are ignored. Returns zip_OK, or zip_BUF_ERROR when dest is too
// small or the input ends early, zip_DATA_ERROR for a damaged stream,
// zip_MEM_ERROR.
int zip_uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                   unsigned long sourceLen);

// The largest compressed size of sourceLen bytes.
unsigned long zip_compressBound(unsigned long sourceLen);

// zlib's CRC-32 of length bytes, continuing from crc (0 to start).
unsigned long zip_crc32(unsigned long crc, const unsigned char* bytes, unsigned long length);

#endif  // QVT_FOUNDATION_ZIP_COMPRESS_H
