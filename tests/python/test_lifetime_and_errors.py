"""Objects and their database closed in any order, never a crash; the library's
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
