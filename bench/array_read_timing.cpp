// The C++ side of bench/python_array_read.py: opens a database, reads one
// double array whole into newly allocated memory with one qvt_Array::Read
// (the default I/O buffer, which a large read bypasses), as the Python
// module's read() does, and prints the best of the runs in seconds.
// Usage: qvt_array_read_timing FILE HANDLE [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "qvt_Database.h"
#include "qvt_File.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE HANDLE [RUNS]\n", argv[0]);
    return 2;
  }
  const qvt_Handle handle = static_cast<qvt_Handle>(std::strtoul(argv[2], nullptr, 10));
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  double best = 1e300;
  try {
    for (int run = 0; run < runs; ++run) {
      const auto start = std::chrono::steady_clock::now();
      qvt_Database db = qvt_Database::Open(qvt_File::Open(argv[1], 0, true), "");
      {
        qvt_Array<double, 4> array = db.ArrayDouble(handle, -1, 0);
        const int rows = array.Length();
        std::unique_ptr<double[]> values(new double[static_cast<std::size_t>(rows) * array.FieldCount()]);
        if (array.Read(values.get(), rows) != rows * array.FieldCount()) {
          std::fprintf(stderr, "short read\n");
          return 1;
        }
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (took.count() < best) best = took.count();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("%.6f\n", best);
  return 0;
}
