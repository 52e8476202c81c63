// Shared by the fuzz targets: opens a database file (or URL) read-only and
// reads every object it holds to its end, as a post-processor would. The
// library's own exceptions are answers; anything else escapes as a fault.
#ifndef QVT_FUZZ_QVT_FUZZREAD_H
#define QVT_FUZZ_QVT_FUZZREAD_H

#include <string>

#include "qvt_TestSupport.h"

namespace qvt_fuzz {

// Every row and field, array value, stream record and space byte.
void ReadEverything(const std::string& name);

// A path in a scratch folder of this process, removed at its exit; inputs
// are written there with qvt_test::WriteAll.
std::string ScratchPath(const std::string& name);

}  // namespace qvt_fuzz

#endif  // QVT_FUZZ_QVT_FUZZREAD_H
