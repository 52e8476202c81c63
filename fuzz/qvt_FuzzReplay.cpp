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
  int count = 0;
  const auto replay = [&count](const std::filesystem::path& file) {
    const std::vector<std::uint8_t> bytes = qvt_test::ReadAll(file.string());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++count;
  };
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) {
      replay(argv[i]);
    } else {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) replay(entry.path());
    }
  }
  std::printf("%d inputs replayed\n", count);
  return count > 0 ? 0 : 1;
}
