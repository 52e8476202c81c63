// Target: a database file opened and read whole (plain, compressed, mutated).
#include <cstddef>
#include <cstdint>

#include "qvt_FuzzRead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = qvt_fuzz::ScratchPath("open.odb");
  qvt_test::WriteAll(path, {data, data + size});
  qvt_fuzz::ReadEverything(path);
  return 0;
}
