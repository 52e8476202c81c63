"""The Python module: values round trip bit for bit; objects and their database close in any order, and the
library's failures are Python exceptions carrying its messages; databases written in C++ and in Python read
as `qvtdb ls` and `qvtdb dump` show them, and the plotting example follows the qvtdb demo frame by frame."""
import gc
import json
import math
import os
import subprocess
import sys

import numpy as np
import pytest
import qvt

QVTDB, BATCH_WRITER = os.environ.get("QVTDB", ""), os.environ.get("QVT_BATCH_WRITER", "")  # set by ctest
CORPUS = os.path.join(os.path.dirname(__file__), "..", "corpus")


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


# Quiet, payload and signalling NaN, both infinities, -0.0, least subnormal, largest.
VALUES = {
    "int": np.array([0, -1, 1, 2**31 - 1, -2**31, 123456789, -42, 7], dtype=np.int32),
    "float": np.array([0x7FC00000, 0xFFC00001, 0x7F800001, 0x7F800000, 0xFF800000, 0x80000000, 0x00000001,
                       0x7F7FFFFF], dtype=np.uint32).view(np.float32),
    "double": np.array([0x7FF8000000000000, 0xFFF8000000000123, 0x7FF0000000000001, 0x7FF0000000000000,
                        0xFFF0000000000000, 0x8000000000000000, 0x0000000000000001, 0x7FEFFFFFFFFFFFFF],
                       dtype=np.uint64).view(np.float64),
}


@pytest.mark.parametrize("compressed", [False, True], ids=["plain", "compressed"])
@pytest.mark.parametrize("fields", [1, 2])
@pytest.mark.parametrize("kind", VALUES)
def test_numbers_round_trip_bit_for_bit(tmp_path, kind, fields, compressed):
    path = str(tmp_path / "a.odb")
    values = VALUES[kind].reshape(-1, fields)
    with qvt.create(path, "RT", "round trip", compressed=compressed) as db:
        array = db.create_array(kind, fields)
        array.append(values[:1])
        handle = array.handle
    with qvt.open(path, "r+") as db:
        db[handle].append(values[1:])  # at the end, not where an opened array starts
    with qvt.open(path) as db:
        array = db[handle]
        got = array.read()
        assert (got.dtype, got.shape, got.tobytes()) == (values.dtype, values.shape, values.tobytes())
        assert array.read(1, 2).tobytes() == values[1:3].tobytes()
        assert array.read(len(values) - 1, 99).tobytes() == values[-1:].tobytes()
        assert array.read(len(values)).shape == (0, fields)
        room = np.zeros((len(values) + 1, fields), values.dtype)
        into = array.read(out=room)
        assert np.shares_memory(into, room) and into.tobytes() == values.tobytes()


def test_texts_round_trip_and_bytes_stay_bytes(tmp_path):
    path = str(tmp_path / "s.odb")
    rows = [["plain", ""], ["ünïcödé €", b"\xff\xfe not utf-8"], ["a\x00b", "last"]]
    with qvt.create(path, "RT", "texts") as db:
        handle = db.create_array("string", 2).handle
        db[handle].append(rows)
    with qvt.open(path) as db:
        assert db[handle].read() == rows


@pytest.mark.parametrize("kind, values, error", [
    ("int", np.array([1.5]), TypeError),                  # another kind of value
    ("int", np.array([2**31], dtype=np.int64), OverflowError),
    ("double", np.zeros((2, 2)), ValueError),             # the wrong number of fields
    ("string", [[1]], TypeError),
])
def test_bad_appends_are_refused_and_store_nothing(tmp_path, kind, values, error):
    with qvt.create(str(tmp_path / "b.odb"), "RT", "bad") as db:
        array = db.create_array(kind, 1)
        with pytest.raises(error):
            array.append(values)
        assert len(array) == 0


@pytest.fixture
def made(tmp_path):
    """Written by a process that leaves its writer and objects open: exit flushes them."""
    path = str(tmp_path / "l.odb")
    script = ("import qvt\ndb = qvt.create(%r, 'LT', 'exit')\ndb.define_class('c', {'n': 'int'})\n"
              "t = db.create_table('c')\nt.append({'n': 5})\na = db.create_array('int')\na.append([4])\n"
              "s = db.create_stream()\ns.write('int', 1, 2)\n") % path
    subprocess.run([sys.executable, "-c", script], check=True, timeout=60)
    return path


def test_objects_close_with_their_database_and_keep_it_open_until_the_last_goes(made):
    with qvt.open(made) as db:
        table, stream = db[4], db[6]
        records = iter(stream)
    for use in (lambda: len(table), lambda: iter(stream), lambda: next(records)):
        with pytest.raises(qvt.ClosedError):
            use()
    assert "(closed)" in repr(table) and "(closed)" in repr(db)
    db = qvt.open(made)
    table, array, stream, classes = db[4], db[5], db[6], db.classes()
    del db
    gc.collect()
    assert table[0] == {"n": 5} and array.read().tolist() == [[4]] and list(stream) == [("int", 1, 2)]
    assert list(classes) == ["c"]


def test_an_extent_that_continues_a_space_is_no_object(tmp_path):
    with qvt.create(str(tmp_path / "e.odb"), "LT", "extents") as db:
        a, b = db.create_array("int"), db.create_array("int")
        for array in (a, b, a, b):  # growing in turn chains new extents
            array.append([1] * 2000)
            array.flush()
        extent = next(h for h in range(6, 20) if h not in dict(db.objects()))
        with pytest.raises(KeyError):
            db[extent]


@pytest.mark.parametrize("action, error, message", [
    (lambda p: qvt.open(p + ".missing"), (qvt.NoSuchFile, FileNotFoundError),
     "*** ERROR: No such file: {path}.missing."),
    (lambda p: qvt.open(os.path.join(CORPUS, "not-a-database.odb")), (qvt.Error,),
     '***ERROR: "{corpus}/not-a-database.odb"  is not an KELVOR database file.'),
    (lambda p: qvt.open(p)[4].append({"n": 2}), (qvt.Error,),
     "The output database was opened as read-only. Modification of data is not permitted."),
    (lambda p: qvt.open(p, "r+")[4].append({"nope": 1}), (qvt.Error,), '***ERROR: Can\'t find field: "nope"'),
    (lambda p: qvt.open(p)[4][1], (IndexError,), "row 1 is outside table 'c' of 1 rows"),
    (lambda p: qvt.open(p, "w"), (ValueError,), "mode must be 'r' or 'r+', not 'w'"),
], ids=["missing", "not-a-database", "read-only", "unknown-field", "past-the-end", "bad-mode"])
def test_failures_raise_their_class_with_the_message(made, action, error, message):
    with pytest.raises(error) as raised:
        action(made)
    assert str(raised.value) == message.format(path=made, corpus=CORPUS)
