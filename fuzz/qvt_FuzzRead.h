// The fuzz targets read a database as a post-processor would: the library's
// own exceptions are answers; anything else escapes as a fault.
#ifndef QVT_FUZZ_QVT_FUZZREAD_H
#define QVT_FUZZ_QVT_FUZZREAD_H

#include <string>

#include "qvt_TestSupport.h"

namespace qvt_fuzz {

// Opens a file or URL read-only: every row and field, array value, stream record and space byte.
void ReadEverything(const std::string& name);

// A path in this process's scratch folder, removed at exit.
std::string ScratchPath(const std::string& name);

}  // namespace qvt_fuzz

#endif  // QVT_FUZZ_QVT_FUZZREAD_H
