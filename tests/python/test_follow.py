"""A Python reader follows a writer process through file_status() and
snap(): the plotting example follows the qvtdb demo frame by frame and
prints each frame as the finished file holds it."""
import os
import subprocess
import sys

import qvt

from conftest import QVTDB


def test_the_plotting_example_follows_the_demo(tmp_path):
    path, png = str(tmp_path / "demo.odb"), str(tmp_path / "tip.png")
    demo = subprocess.Popen([QVTDB, "demo", "--frames", "3", "--interval", "50", path], stdout=subprocess.DEVNULL)
    example = os.path.join(os.environ["QVT_EXAMPLES_DIR"], "follow_and_plot.py")
    output = subprocess.run([sys.executable, example, path, png], capture_output=True, text=True, timeout=120)
    assert demo.wait(timeout=60) == 0 and output.returncode == 0, output.stderr
    with qvt.open(path) as db:
        assert output.stdout.splitlines()[:3] == [
            f"frame {r['frame']}: time {r['time']:.3f}, tip U2 {db[r['U']].read()[-1, 1]:.6f}" for r in db[5]]
    assert os.path.exists(png) or "Matplotlib is not installed" in output.stdout
