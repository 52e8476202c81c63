// Reading a whole database for the fuzz targets.
#include "qvt_FuzzRead.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvtdb_ReadObject.h"

namespace qvt_fuzz {
namespace {

// QVT_FUZZ_VERBOSE set: each refusal on standard error, to see how deep an
// input reaches.
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

const std::string& WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path);
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) {
    throw std::runtime_error("cannot write " + path);
  }
  return path;
}

std::string ScratchPath(const std::string& name) {
  return "/tmp/qvt-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace qvt_fuzz
