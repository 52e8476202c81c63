#!/usr/bin/python3
"""Example: follow the qvtdb demo's database while the demo writes it, then
plot a nodal value over the frames.

Start the demo (`make demo`, or `build/tools/qvtdb demo FILE`) and run, from
the top of the tree:

    PYTHONPATH=build/python /usr/bin/python3 examples/follow_and_plot.py build/qvtdb-demo.odb

Each frame of the demo is a row of the "frames" table (handle 5) whose field
"U" is the handle of a double array of (nodes, 3) displacements. The example
prints each frame as it arrives and, once the demo writes its end-of-run
message, plots U2 of the tip node over time into a PNG when Matplotlib is
installed (Debian: python3-matplotlib).
"""
import sys
import time

import qvt

END_OF_RUN = -1  # the id of the demo's last message


def open_when_ready(path):
    """The writer may not have created the file, or flushed its classes, yet."""
    for _ in range(600):
        try:
            db = qvt.open(path, type_code="QVTD")
            if "frames" in db.classes():
                return db
            db.close()
        except qvt.Error:
            pass
        time.sleep(0.05)
    sys.exit(f"{path}: no demo database appeared")


def main(path, png):
    with open_when_ready(path) as db:
        frames, messages = db[5], db[8]
        times, tip = [], []
        done = False
        pending = False  # a flush seen but not yet taken up by a snap
        for _ in range(6000):
            for row in (frames[i] for i in range(len(times), len(frames))):
                u = db[row["U"]].read()  # (nodes, 3) float64
                times.append(row["time"])
                tip.append(u[-1, 1])
                print(f"frame {row['frame']}: time {row['time']:.3f}, tip U2 {u[-1, 1]:.6f}")
            if done:
                break
            # Refresh only when the writer flushed and is not inside a
            # transaction. A snap brings nothing when the writer went back
            # into a transaction after the status was read: the flush stays
            # pending and is taken up by a later try, as the status reports
            # each flush only once.
            status = db.file_status()
            pending = pending or status == qvt.FileStatus.UPDATED
            if pending and status != qvt.FileStatus.IN_TRANSACTION and db.snap():
                pending = False
                done = any(kind == "fixed string" and ident == END_OF_RUN for kind, ident, _ in messages)
            else:
                time.sleep(0.05)
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("Matplotlib is not installed: no plot")
        return
    figure, axes = plt.subplots()
    axes.plot(times, tip, marker="o")
    axes.set_xlabel("time")
    axes.set_ylabel("U2 of the tip node")
    axes.set_title(path)
    figure.savefig(png)
    print(f"plot saved to {png}")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: follow_and_plot.py DATABASE [PNG]")
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "tip_displacement.png")
