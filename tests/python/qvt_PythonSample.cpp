// For the Python tests: writes the tool tests' sample database (one object
// of every kind with known contents) at the path given, compressed when a
// second argument "compressed" is given.
#include <cstdio>
#include <cstring>
#include <exception>

#include "qvt_ToolSampleDatabase.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [compressed]\n", argv[0]);
    return 2;
  }
  try {
    qvt_test::WriteSampleDatabase(argv[1], argc > 2 && std::strcmp(argv[2], "compressed") == 0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
