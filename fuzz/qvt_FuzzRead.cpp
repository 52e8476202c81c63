// Reading a whole database for the fuzz targets.
#include "qvt_FuzzRead.h"

#include <cstdio>
#include <cstdlib>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_TestSupport.h"
#include "qvtdb_ReadObject.h"

namespace qvt_fuzz {
namespace {

// QVT_FUZZ_VERBOSE shows how deep inputs reach.
void Refused(const nex_Exception& e) {
  if (std::getenv("QVT_FUZZ_VERBOSE") != nullptr) std::fprintf(stderr, "refused: %s\n", e.what());
}

}  // namespace

void ReadEverything(const std::string& name) {
  try {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(name.c_str(), 0, true), "");
    db.Bind();
    for (const qvt_Handle handle : db.ObjectHandles()) {
      try {
        qvtdb_ReadObject(db, handle);
      } catch (const nex_Exception& e) {
        Refused(e);  // a damaged object: the others are still read
      }
    }
  } catch (const nex_Exception& e) {
    Refused(e);
  }
}

std::string ScratchPath(const std::string& name) {
  static const qvt_test::ScratchDir dir;
  return dir.File(name);
}

}  // namespace qvt_fuzz
