// Signed 64-bit byte offsets and lengths.
#ifndef QVT_FOUNDATION_UTL_FILEOFFSET_H
#define QVT_FOUNDATION_UTL_FILEOFFSET_H

#include <cstdint>

using utl_FileOffset = std::int64_t;

// Difference a - b that must fit in 32 bits; throws nex_AssertException
// when it does not.
std::int32_t utl_DiffAsInt32(utl_FileOffset a, utl_FileOffset b);

#endif  // QVT_FOUNDATION_UTL_FILEOFFSET_H
