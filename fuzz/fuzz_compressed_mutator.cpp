// Target: a compressed file read by fuzz_open.cpp, mutated decoded and encoded
// again so that mutations reach the database behind the container's streams.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "nex_Exception.h"
#include "qvt_File.h"
#include "qvt_FuzzRead.h"

// Weak: the replay build, which never mutates, has no libFuzzer.
extern "C" __attribute__((weak)) std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size,
                                                              std::size_t maxSize);

static void Convert(const std::string& from, const std::string& to, bool compress) {
  qvt_File source = qvt_File::Open(from.c_str(), 0, true);
  qvt_File target = compress ? qvt_File::CreateCompressed(to.c_str()) : qvt_File::Open(to.c_str(), 2, false);
  target.Copy(source);
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int) {
  static const std::string packed = qvt_fuzz::ScratchPath("packed.odb"),
                           plain = qvt_fuzz::ScratchPath("plain.odb");
  try {
    qvt_test::WriteAll(packed, {data, data + size});
    Convert(packed, plain, false);
    std::vector<std::uint8_t> bytes = qvt_test::ReadAll(plain);
    const std::size_t used = bytes.size();
    bytes.resize(used + used / 4 + 64);
    bytes.resize(LLVMFuzzerMutate(bytes.data(), used, bytes.size()));
    qvt_test::WriteAll(plain, bytes);
    Convert(plain, packed, true);
    const std::vector<std::uint8_t> encoded = qvt_test::ReadAll(packed);
    if (!encoded.empty() && encoded.size() <= maxSize) {
      std::memcpy(data, encoded.data(), encoded.size());
      return encoded.size();
    }
  } catch (const nex_Exception&) {
    // not a compressed file the library can decode: mutate the raw bytes
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}
