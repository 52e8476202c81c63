"""Python beside the other programs: databases written in C++ and in Python
read as `qvtdb ls` and `qvtdb dump` show them, and the plotting example
follows the qvtdb demo frame by frame."""
import json
import math
import os
import subprocess
import sys

import numpy as np
import pytest
import qvt

QVTDB, BATCH_WRITER = os.environ.get("QVTDB", ""), os.environ.get("QVT_BATCH_WRITER", "")  # set by ctest


def run(*command):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, f"{command} failed: {done.stderr}"
    return done.stdout


def write_python(path, compressed):
    """Every kind of object and value; finite numbers only, as JSON has no NaN."""
    with qvt.create(path, "PYW", "written from Python", compressed=compressed) as db:
        db.define_class("mixed", {"i": "int", "h": "handle", "f": "float", "d": "double", "s": "string"})
        table = db.create_table("mixed")
        table.append({"i": -2**31, "h": 2**32 - 1, "f": 0.1, "d": -0.0, "s": "ünïcode"})
        table.append({"i": 7, "s": None})
        table.append({"f": -3e38, "d": 1e300, "s": ""})
        db.create_array("int", 2).append(np.array([[1, -1], [2**31 - 1, -2**31]], dtype=np.int32))
        db.create_array("float", 1).append(np.array([0.1, -1e-30, 3e38], dtype=np.float32))
        db.create_array("double", 3).append(np.array([[1e-300, -0.0, 2.5]]))
        db.create_array("string", 2).append([["alpha", ""], ["ß", "x, y"]])
        stream = db.create_stream()
        for kind, value in (("int", -5), ("handle", 4), ("float", 1.5), ("double", -0.25), ("string", "pooled"),
                            ("fixed string", "fixed")):
            stream.write(kind, 3, value)


def same(kind, python, json_value):
    return np.float32(python) == np.float32(json_value) if kind == "float" else python == json_value


# How each kind of field reads where a row has no value.
ABSENT = {"string": lambda cell: cell is None, "float": math.isnan, "double": math.isnan}


def check_table(table, head):
    assert (table.class_name, len(table)) == (head["class"], head["length"])
    assert table.fields == {f["name"]: f["type"] for f in head["fields"]}
    columns = table.columns()
    for row, entry in zip(table, head["rows"]):
        assert set(row) == {k for k, v in entry["values"].items() if v is not None}
        for name, value in entry["values"].items():
            kind, cell = table.fields[name], columns[name][entry["row"]]
            assert (ABSENT.get(kind, lambda c: c is np.ma.masked)(cell) if value is None
                    else same(kind, row[name], value) and same(kind, cell, value)), (name, entry["row"])


def check_array(array, head):
    assert (array.fields, len(array)) == (head["values_per_row"], head["length"])
    values, wanted = array.read(), [entry["values"] for entry in head["rows"]]
    if array.type == "string":
        assert values == wanted
    else:
        assert values.dtype == array.dtype and values.shape == (len(wanted), array.fields)
        assert all(same(array.type, v, w) for got, row in zip(values, wanted) for v, w in zip(got, row))


def check_stream(stream, head):
    records = list(stream)
    assert [(k, i) for k, i, _ in records] == [(r["type"], r["id"]) for r in head["records"]]
    assert all(same(k, v, r["value"]) for (k, _, v), r in zip(records, head["records"]))


def check_space(space, head):
    assert len(space) == head["length"]
    assert space.read() == bytes.fromhex("".join(line["hex"] for line in head["lines"]))


CHECKS = {"table": check_table, "tagged stream": check_stream, "space": check_space}


@pytest.mark.parametrize("compressed", [False, True], ids=["plain", "compressed"])
@pytest.mark.parametrize("write", [  # the tool tests' sample database, or write_python's
    lambda path, compressed: run(BATCH_WRITER, path, "compressed" if compressed else "plain", "sample"),
    write_python], ids=["sample", "python"])
def test_every_object_reads_as_qvtdb_lists_and_dumps_it(tmp_path, write, compressed):
    path = str(tmp_path / "db.odb")
    write(path, compressed)
    # Lines of "%8u  %-14s ...": the handle, then the kind in its column.
    listed = [(int(line[:8]), line[10:24].strip()) for line in run(QVTDB, "ls", path).splitlines()[1:]]
    # file://localhost/... goes through the file assistant (ctest puts it on PATH).
    for name in (path, "file://localhost" + path):
        with qvt.open(name) as db:
            assert db.objects() == [(h, "space" if k == "other" else k) for h, k in listed]
            for handle, kind in db.objects():
                head = json.loads(run(QVTDB, "dump", "--format", "json", path, handle))
                CHECKS.get(kind, check_array)(db[handle], head)


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
