// The fuzz targets' main in a normal build: each file named, or in a folder
// named, through the target once, so that pinned inputs stay mended.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "qvt_FuzzRead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code notFolder;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], notFolder)) inputs.push_back(entry);
    if (notFolder) inputs.push_back(argv[i]);
  }
  for (const std::filesystem::path& input : inputs) {
    const std::vector<std::uint8_t> bytes = qvt_test::ReadAll(input.string());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
