#!/usr/bin/python3
"""Reading a large double array into NumPy through the qvt module, against the
same read in C++ (build/bench/qvt_array_read_timing), on the same file in the
page cache. Both time opening the database and reading the whole array into
newly allocated memory; each takes the best of its runs. The goal is a ratio
(C++ time / Python time) of 0.8 or more. Not run by ctest.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_array_read.py [--build build]

QVT_BENCH_VALUES sets the number of doubles (default 100 million, 800 MB).
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build folder (default: build)")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import numpy as np
    import qvt

    count = int(os.environ.get("QVT_BENCH_VALUES", "100000000"))
    timing = os.path.join(args.build, "bench", "qvt_array_read_timing")
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "bench.odb")
        with qvt.create(path, "BNCH", "python array read") as db:
            array = db.create_array("double")
            array.append(np.arange(count, dtype=np.float64) * 0.5 + 0.25)
            handle = array.handle
        cxx = float(subprocess.run([timing, path, str(handle), str(args.runs)], check=True,
                                   capture_output=True, text=True).stdout)
        best = float("inf")
        for _ in range(args.runs):
            start = time.perf_counter()
            with qvt.open(path) as db:
                values = db[handle].read()
            best = min(best, time.perf_counter() - start)
            assert values.shape == (count, 1) and values[-1, 0] == (count - 1) * 0.5 + 0.25
            del values
    mb = count * 8 / 1e6
    print(f"{count} doubles ({mb:.0f} MB), best of {args.runs}")
    print(f"  C++    qvt_Array::Read   {cxx:8.3f} s  {mb / cxx:8.0f} MB/s")
    print(f"  Python Array.read()      {best:8.3f} s  {mb / best:8.0f} MB/s")
    print(f"  ratio C++ time / Python time: {cxx / best:.2f} (goal 0.80 or more)")


if __name__ == "__main__":
    main()
