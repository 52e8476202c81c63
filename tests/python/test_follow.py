"""A Python reader follows a C++ writer process through file_status() and
snap(), seeing each flushed row, and only whole ones; so does the plotting
example."""
import os
import subprocess
import sys
import time

import qvt

from conftest import EXAMPLE_WRITER, QVTDB


def open_when_ready(path, writer):
    while True:
        try:
            db = qvt.open(path, type_code="DEMO")
            if "steps" in db.classes():
                return db
            db.close()
        except qvt.Error:  # not created, or no header yet
            assert writer.poll() is None, "the writer ended before the reader could open its file"
        time.sleep(0.01)


def test_reader_follows_the_example_writer_to_its_end(tmp_path):
    path = str(tmp_path / "follow.odb")
    writer = subprocess.Popen([EXAMPLE_WRITER, path])
    try:
        with open_when_ready(path, writer) as db:
            steps, seen, statuses = db[4], [], set()
            while not seen or seen[-1]["status"] != "done":
                seen.extend(steps[i] for i in range(len(seen), len(steps)))
                status = db.file_status()
                statuses.add(status)
                if status == qvt.FileStatus.UPDATED:
                    db.snap()  # the table is refreshed with the database
                elif writer.poll() is not None and status == qvt.FileStatus.UNCHANGED and len(steps) == len(seen):
                    break
                time.sleep(0.01)
    finally:
        assert writer.wait(timeout=60) == 0
    assert [(r["step"], r["energy"], r["status"]) for r in seen] == \
        [(s, 0.5 * s * s, "done" if s == 5 else "running") for s in range(1, 6)]
    assert qvt.FileStatus.UPDATED in statuses


def test_the_plotting_example_follows_the_demo(tmp_path):
    path, png = str(tmp_path / "demo.odb"), str(tmp_path / "tip.png")
    demo = subprocess.Popen([QVTDB, "demo", "--frames", "3", "--interval", "50", path], stdout=subprocess.DEVNULL)
    example = os.path.join(os.environ["QVT_EXAMPLES_DIR"], "follow_and_plot.py")
    output = subprocess.run([sys.executable, example, path, png], capture_output=True, text=True, timeout=120)
    assert demo.wait(timeout=60) == 0 and output.returncode == 0, output.stderr
    assert [line.split(":")[0] for line in output.stdout.splitlines()[:3]] == ["frame 1", "frame 2", "frame 3"]
    assert os.path.exists(png) or "Matplotlib is not installed" in output.stdout
