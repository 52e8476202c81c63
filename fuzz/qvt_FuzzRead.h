// Shared by the fuzz targets: opens a database file (or URL) read-only and
// reads every object it holds to its end, as a post-processor would. The
// library's own exceptions are answers; anything else escapes as a fault.
#ifndef QVT_FUZZ_QVT_FUZZREAD_H
#define QVT_FUZZ_QVT_FUZZREAD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvt_fuzz {

// Every row and field, array value, stream record and space byte.
void ReadEverything(const std::string& name);

// Replaces the file at path with the bytes; answers path.
const std::string& WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size);
// The bytes of the file at path (none when it cannot be read).
std::vector<std::uint8_t> ReadInput(const std::string& path);

// A scratch path unique to this process, ending in name.
std::string ScratchPath(const std::string& name);

}  // namespace qvt_fuzz

#endif  // QVT_FUZZ_QVT_FUZZREAD_H
