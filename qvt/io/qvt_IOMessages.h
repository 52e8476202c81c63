// The message texts of the typed stream layer, shared by the typed and the
// pooled-string operations, and the checks they have in common.
#ifndef QVT_IMPL_QVT_IOMESSAGES_H
#define QVT_IMPL_QVT_IOMESSAGES_H

#include <climits>
#include <cstddef>

#include "nex_Exception.h"

namespace qvt_IOMessages {
constexpr char kInvalidPointer[] = "***ERROR: Invalid array pointer.";
constexpr char kInvalidLength[] = "***ERROR: Invalid length when reading array.";
constexpr char kWriteFailed[] = "***ERROR: Write operation failed.";
constexpr char kUnexpectedEof[] = "***ERROR: Unexpected End Of File.";

// Checks an array transfer of count elements of elementSize bytes and
// answers its byte count. A count whose byte count does not fit the int of a
// raw transfer is as invalid as a count below 1.
inline int CheckedByteCount(const void* values, int count, std::size_t elementSize) {
  if (values == nullptr) NEX_THROW_TEXT(kInvalidPointer);
  if (count < 1 || static_cast<std::size_t>(count) > static_cast<std::size_t>(INT_MAX) / elementSize)
    NEX_THROW_TEXT(kInvalidLength);
  return static_cast<int>(static_cast<std::size_t>(count) * elementSize);
}

// A raw Read must answer between 0 and the bytes asked for; anything else
// comes from a broken stream and must not reach the conversion.
inline void CheckReadCount(int bytesRead, int byteCount) {
  NEX_ASSERT(bytesRead >= 0 && bytesRead <= byteCount);
}
}  // namespace qvt_IOMessages

#endif  // QVT_IMPL_QVT_IOMESSAGES_H
