// The writer of the kill sweep and the Python tests. "PATH plain|compressed create|open LAST" writes
// batches until the file holds LAST, printing "flushed K" once the flush completing K batches has
// returned, then "calls N" as the kill shim counted them (-1 without it); "PATH plain|compressed
// sample" writes the tool tests' sample database. A failure ends it by an uncaught exception.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "qvt_BatchWorkload.h"
#include "qvt_ToolSampleDatabase.h"

int main(int argc, char** argv) {
  const bool sample = argc == 4 && std::string(argv[3]) == "sample";
  if (argc != 5 && !sample) {
    std::fprintf(stderr, "usage: %s PATH plain|compressed create|open LAST | sample\n", argv[0]);
    return 2;
  }
  const bool compressed = std::string(argv[2]) == "compressed";
  if (sample) {
    qvt_test::WriteSampleDatabase(argv[1], compressed);
    return 0;
  }
  qvt_test::WriteBatches(argv[1], compressed, std::string(argv[3]) == "create", std::atoi(argv[4]),
                         [](int batches) {
                           std::printf("flushed %d\n", batches);
                           std::fflush(stdout);
                         });
  const auto calls = reinterpret_cast<long (*)()>(::dlsym(RTLD_DEFAULT, "qvt_KillShimCalls"));
  std::printf("calls %ld\n", calls ? calls() : -1L);
  return 0;
}
