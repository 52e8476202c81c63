// Reading a whole database for the fuzz targets.
#include "qvt_FuzzRead.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
  return path;
}

std::vector<std::uint8_t> ReadInput(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ScratchPath(const std::string& name) {
  return "/tmp/qvt-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace qvt_fuzz
