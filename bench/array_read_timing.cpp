// The C++ side of bench/python_array_read.py: opens a database and reads
// one double array whole with one qvt_Array::Read (the default I/O buffer,
// which a large read bypasses). Prints the best of the runs in seconds
// twice: reading into newly allocated memory, as the Python module's read()
// does, and into a buffer allocated and touched once before (no page
// faults: the best case of C++).
// Usage: qvt_array_read_timing FILE HANDLE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <vector>

#include "qvt_Database.h"
#include "qvt_File.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE HANDLE [RUNS]\n", argv[0]);
    return 2;
  }
  const qvt_Handle handle = static_cast<qvt_Handle>(std::strtoul(argv[2], nullptr, 10));
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  double best[2] = {1e300, 1e300};
  try {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(argv[1], 0, true), "");
    std::vector<double> reused(static_cast<std::size_t>(db.ArrayDouble(handle, -1, 0).Length()) *
                               db.ArrayDouble(handle, -1, 0).FieldCount());
    for (int run = 0; run < runs; ++run) {
      for (int fresh = 0; fresh < 2; ++fresh) {
        const auto start = std::chrono::steady_clock::now();
        qvt_Database opened = qvt_Database::Open(qvt_File::Open(argv[1], 0, true), "");
        {
          qvt_Array<double, 4> array = opened.ArrayDouble(handle, -1, 0);
          const int rows = array.Length();
          std::unique_ptr<double[]> values(fresh ? new double[reused.size()] : nullptr);
          if (array.Read(fresh ? values.get() : reused.data(), rows) != rows * array.FieldCount()) {
            std::fprintf(stderr, "short read\n");
            return 1;
          }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best[fresh] = std::min(best[fresh], took.count());
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("%.6f %.6f\n", best[1], best[0]);
  return 0;
}
