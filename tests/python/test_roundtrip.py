"""Values written from Python read back unchanged, bit for bit, across appends,
reopening and partial reads."""
import numpy as np
import pytest
import qvt


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
