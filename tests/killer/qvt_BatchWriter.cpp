// The writer process of the kill sweep, run under the kill shim:
//   qvt_batch_writer PATH plain|compressed create|open LAST
// writes batches until the file holds LAST, printing "flushed K" once the
// flush that completes K batches has returned, and at the end "calls N"
// with the writes and resizes the shim counted.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "qvt_BatchWorkload.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s PATH plain|compressed create|open LAST\n", argv[0]);
    return 2;
  }
  try {
    qvt_test::WriteBatches(argv[1], std::string(argv[2]) == "compressed", std::string(argv[3]) == "create",
                           std::atoi(argv[4]), [](int batches) {
                             std::printf("flushed %d\n", batches);
                             std::fflush(stdout);
                           });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    return 1;
  }
  using CallsFn = long (*)();
  const auto calls = reinterpret_cast<CallsFn>(::dlsym(RTLD_DEFAULT, "qvt_KillShimCalls"));
  std::printf("calls %ld\n", calls ? calls() : -1L);
  return 0;
}
