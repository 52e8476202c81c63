// 64-bit offset helpers.
#include "utl_FileOffset.h"

#include <limits>

#include "nex_Exception.h"

std::int32_t utl_DiffAsInt32(utl_FileOffset a, utl_FileOffset b) {
  const utl_FileOffset d = a - b;
  NEX_ASSERT(d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(d);
}
