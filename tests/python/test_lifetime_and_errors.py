"""Objects and their database in any order, never a crash; the library's
failures as Python exceptions carrying its messages."""
import gc
import os
import subprocess
import sys

import pytest
import qvt

CORPUS = os.path.join(os.path.dirname(__file__), "..", "corpus")


@pytest.fixture
def made(tmp_path):
    path = str(tmp_path / "l.odb")
    with qvt.create(path, "LT", "lifetimes") as db:
        db.define_class("c", {"n": "int", "s": "string"})
        db.create_table("c").append({"n": 1, "s": "one"})
    return path


def test_objects_keep_their_database_open_until_the_last_goes(made):
    db = qvt.open(made)
    table, classes = db[4], db.classes()
    del db
    gc.collect()
    assert table[0] == {"n": 1, "s": "one"} and list(classes) == ["c"]


def test_closing_the_database_closes_its_objects_first(tmp_path):
    path = str(tmp_path / "w.odb")
    with qvt.create(path, "LT", "writer") as db:
        db.define_class("c", {"n": "int"})
        table = db.create_table("c")
        table.append({"n": 5})  # never flushed by hand: closing does it
        stream = db.create_stream()
        stream.write("int", 1, 2)
        records = iter(stream)
    for use in (lambda: len(table), lambda: iter(stream), lambda: next(records)):
        with pytest.raises(qvt.ClosedError):
            use()
    assert "(closed)" in repr(table) and "(closed)" in repr(db)
    with qvt.open(path) as db:
        assert list(db[4]) == [{"n": 5}] and list(db[5]) == [("int", 1, 2)]


def test_a_writer_left_open_at_exit_is_closed_with_its_data(tmp_path):
    path = str(tmp_path / "x.odb")
    script = ("import qvt\ndb = qvt.create(%r, 'LT', 'exit')\ndb.define_class('c', {'n': 'int'})\n"
              "t = db.create_table('c')\nt.append({'n': 9})\na = db.create_array('int')\na.append([4])\n") % path
    subprocess.run([sys.executable, "-c", script], check=True, timeout=60)
    with qvt.open(path) as db:
        assert list(db[4]) == [{"n": 9}] and db[5].read().tolist() == [[4]]


def test_an_extent_that_continues_a_space_is_no_object(tmp_path):
    path = str(tmp_path / "e.odb")
    with qvt.create(path, "LT", "extents") as db:
        a, b = db.create_array("int"), db.create_array("int")
        for i in range(3):  # growing in turn chains new extents
            for array in (a, b):
                array.append([i] * 2000)
                array.flush()
    with qvt.open(path) as db:
        objects = dict(db.objects())
        extent = next(h for h in range(6, 20) if h not in objects)
        with pytest.raises(KeyError):
            db[extent]
        assert len(db[a.handle]) == 6000


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
