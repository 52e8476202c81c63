// The fuzz targets read a database as a post-processor would: the library's
// own exceptions are answers; anything else escapes as a fault.
#ifndef QVT_FUZZ_QVT_FUZZREAD_H
#define QVT_FUZZ_QVT_FUZZREAD_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_TestSupport.h"
#include "qvtdb_ReadObject.h"

namespace qvt_fuzz {

// Opens a file or URL read-only: every row and field, array value, stream record and space byte.
inline void ReadEverything(const std::string& name) {
  const auto refused = [](const nex_Exception& e) {  // QVT_FUZZ_VERBOSE shows how deep inputs reach
    if (std::getenv("QVT_FUZZ_VERBOSE") != nullptr) std::fprintf(stderr, "refused: %s\n", e.what());
  };
  try {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(name.c_str(), 0, true), "");
    db.Bind();
    for (const qvt_Handle handle : db.ObjectHandles()) {
      try {
        qvtdb_ReadObject(db, handle);
      } catch (const nex_Exception& e) {
        refused(e);  // a damaged object: the others are still read
      }
    }
  } catch (const nex_Exception& e) {
    refused(e);
  }
}

// A path in this process's scratch folder, removed at exit.
inline std::string ScratchPath(const std::string& name) {
  static const qvt_test::ScratchDir dir;
  return dir.File(name);
}

}  // namespace qvt_fuzz

#endif  // QVT_FUZZ_QVT_FUZZREAD_H
