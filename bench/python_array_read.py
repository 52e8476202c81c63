#!/usr/bin/python3
"""Reading a large double array into NumPy through the qvt module, against the
same read in C++ (build/bench/qvt_array_read_timing), on the same file in the
page cache. Both time opening the database and reading the whole array; each
takes the best of its runs. Each reads into newly allocated memory
(`read()`), and into a buffer touched before (`read(out=buffer)`: no page
faults). NumPy asks the kernel for huge pages for large arrays, which makes
its new memory cheaper than C++'s, so the touched-buffer pair is the one
that compares the reads themselves. The goal is a ratio (C++ time / Python
time) of 0.8 or more. Not run by ctest.

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
        fresh, reused = (float(t) for t in subprocess.run([timing, path, str(handle), str(args.runs)], check=True,
                                                             capture_output=True, text=True).stdout.split())
        best = {"new": float("inf"), "out": float("inf")}
        buffer = np.ones((count, 1))
        for _ in range(args.runs):
            for way in best:
                start = time.perf_counter()
                with qvt.open(path) as db:
                    values = db[handle].read(out=buffer if way == "out" else None)
                best[way] = min(best[way], time.perf_counter() - start)
                assert values.shape == (count, 1) and values[-1, 0] == (count - 1) * 0.5 + 0.25
                del values
    mb = count * 8 / 1e6
    print(f"{count} doubles ({mb:.0f} MB), best of {args.runs}")
    for name, seconds in (("C++    Read, new memory", fresh), ("Python read()", best["new"]),
                          ("C++    Read, touched buffer", reused), ("Python read(out=buffer)", best["out"])):
        print(f"  {name:28s} {seconds:8.3f} s  {mb / seconds:8.0f} MB/s")
    print(f"  ratio C++ time / Python time: {fresh / best['new']:.2f} new memory, "
          f"{reused / best['out']:.2f} touched buffer (goal 0.80 or more)")

if __name__ == "__main__":
    main()
