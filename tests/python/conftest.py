"""Shared helpers of the Python module's tests: the programs they run (ctest
names them in the environment)."""
import json
import os
import subprocess

QVTDB = os.environ.get("QVTDB", "")
BATCH_WRITER = os.environ.get("QVT_BATCH_WRITER", "")


def run(*command):
    """Runs a program; its standard output, or the test fails with its error."""
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, f"{command} failed: {done.stderr}"
    return done.stdout


def dump(path, handle):
    return json.loads(run(QVTDB, "dump", "--format", "json", path, handle))
