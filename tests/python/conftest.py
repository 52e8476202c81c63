"""Shared helpers of the Python module's tests: the programs they run."""
import json
import os
import subprocess

import pytest

QVTDB = os.environ.get("QVTDB", "")
BATCH_WRITER = os.environ.get("QVT_BATCH_WRITER", "")
EXAMPLE_WRITER = os.environ.get("QVT_EXAMPLE_WRITER", "")


def run(*command):
    """Runs a program; its standard output, or the test fails with its error."""
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, f"{command} failed: {done.stderr}"
    return done.stdout


def dump(path, handle):
    return json.loads(run(QVTDB, "dump", "--format", "json", path, handle))


@pytest.fixture(autouse=True, scope="session")
def programs():
    for name, path in (("QVTDB", QVTDB), ("QVT_BATCH_WRITER", BATCH_WRITER), ("QVT_EXAMPLE_WRITER", EXAMPLE_WRITER)):
        if not os.access(path, os.X_OK):
            pytest.fail(f"{name} must name the built program (ctest sets it), not {path!r}")
