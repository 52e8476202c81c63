// The Array class of the Python module: reads into NumPy arrays of shape
// (rows, fields) of the stored element type, the file's bytes converted
// straight into the NumPy array's memory; appends from NumPy arrays; string
// arrays as lists.
#include <algorithm>
#include <climits>
#include <optional>
#include <variant>

#include <pybind11/numpy.h>

#include "qvtpy_Database.h"
#include "qvtpy_Values.h"

namespace py = pybind11;
using State = std::shared_ptr<qvtpy_DatabaseState>;

namespace {

using IntArray = qvt_Array<int, 1>;
using FloatArray = qvt_Array<float, 3>;
using DoubleArray = qvt_Array<double, 4>;
using StringArray = qvt_Array<cow_String, 6>;
using AnyArray = std::variant<IntArray, FloatArray, DoubleArray, StringArray>;

// The I/O buffer of a writer's array: whole rows of a large append go to the
// space in few writes. Readers use the default, which large reads bypass.
constexpr int kWriterBuffer = 1 << 20;
// Values per library call, so that a count of values always fits an int.
constexpr long long kValuesPerCall = 1 << 28;

class Array : public qvtpy_Object {
 public:
  Array(const State& state, AnyArray array)
      : qvtpy_Object(state, std::visit([](auto& a) { return a.Handle(); }, array)), m_Array(std::move(array)) {}

  template <class F>
  auto Visit(F&& f) const {
    CheckOpen();
    return std::visit(std::forward<F>(f), *m_Array);
  }
  qvt_Type Type() const { return Visit([](auto& a) { return a.Type(); }); }

  void FlushObject() override {
    if (m_Array) std::visit([](auto& a) { a.Flush(); }, *m_Array);
  }
  void SnapObject() override {
    if (m_Array) std::visit([](auto& a) { a.Snap(); }, *m_Array);
  }
  void Release() noexcept override { m_Array.reset(); }

 protected:
  bool Holds() const override { return m_Array.has_value(); }

 private:
  mutable std::optional<AnyArray> m_Array;
};

// The rows from first on that a read of count rows (None: to the end) gets.
long long RowsToRead(long long length, long long first, const py::object& count) {
  if (first < 0 || first > length) {
    throw py::index_error("first row " + std::to_string(first) + " is outside the array of " +
                          std::to_string(length) + " rows");
  }
  if (count.is_none()) return length - first;
  const long long wanted = qvtpy_Integer(count, 0, LLONG_MAX, "count");
  return std::min(wanted, length - first);
}

// The array to read into: out when given (C-ordered, writable, of T, with
// fields columns and room for rows rows), else a new one.
template <class T>
py::array_t<T> Destination(const py::object& out, long long rows, long long fields) {
  if (out.is_none()) return py::array_t<T>({rows, fields});
  if (!py::isinstance<py::array_t<T>>(out)) {
    throw py::type_error("out must be a NumPy array of " + std::string(py::str(py::dtype::of<T>())));
  }
  const auto given = py::reinterpret_borrow<py::array_t<T>>(out);
  const bool c = (given.flags() & py::array::c_style) != 0;
  if (!c || !given.writeable() || given.ndim() != 2 || given.shape(1) != fields || given.shape(0) < rows) {
    throw py::value_error("out must be a writable C-ordered array of shape (" + std::to_string(rows) +
                          " or more, " + std::to_string(fields) + ")");
  }
  return given;
}

template <class T, int N>
py::object ReadRows(qvt_Array<T, N>& a, long long first, long long rows, const py::object& into) {
  const long long fields = a.FieldCount();
  py::array_t<T> out = Destination<T>(into, rows, fields);
  T* data = out.mutable_data();
  long long done = 0;
  if (rows > 0) a.Seek(static_cast<int>(first));
  const long long step = std::max(1LL, kValuesPerCall / fields);
  while (done < rows) {
    const long long batch = std::min(step, rows - done);
    const int got = a.Read(data + done * fields, static_cast<int>(batch));
    done += got / fields;
    if (got < batch * fields) break;
  }
  if (done < out.shape(0)) return out[py::slice(0, done, 1)];
  return out;
}

py::object ReadRows(StringArray& a, long long first, long long rows, const py::object& into) {
  if (!into.is_none()) throw py::type_error("a string array reads into a new list; out must be None");
  const int fields = a.FieldCount();
  std::vector<cow_String> values(static_cast<std::size_t>(rows * fields));
  long long got = 0;
  if (rows > 0) {
    a.Seek(static_cast<int>(first));
    got = a.Read(values.data(), static_cast<int>(rows));
  }
  py::list out;
  for (long long r = 0; r < got / fields; ++r) {
    py::list row;
    for (int k = 0; k < fields; ++k) row.append(qvtpy_Text(values[static_cast<std::size_t>(r * fields + k)]));
    out.append(row);
  }
  return out;
}

py::object Read(const Array& self, long long first, const py::object& count, const py::object& out) {
  return self.Visit([&](auto& a) { return ReadRows(a, first, RowsToRead(a.Length(), first, count), out); });
}

// values as a C-ordered NumPy array of T with fields columns. A value of
// another kind (float into int) is refused; ints are checked to fit.
template <class T>
py::array_t<T> Converted(const py::object& values, long long fields) {
  py::module_ np = py::module_::import("numpy");
  py::object given = np.attr("asarray")(values);
  py::dtype target = py::dtype::of<T>();
  if (!np.attr("can_cast")(given.attr("dtype"), target, py::arg("casting") = "same_kind").template cast<bool>()) {
    throw py::type_error("cannot append " + std::string(py::str(given.attr("dtype"))) + " values to an array of " +
                         std::string(py::str(target)));
  }
  if (std::is_integral_v<T> && py::cast<long long>(given.attr("size")) > 0) {
    qvtpy_Integer(given.attr("min")(), INT32_MIN, INT32_MAX, "a value");
    qvtpy_Integer(given.attr("max")(), INT32_MIN, INT32_MAX, "a value");
  }
  auto array = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(given);
  if (!array) throw py::error_already_set();
  const bool oneColumn = array.ndim() == 1 && fields == 1;
  if (!oneColumn && (array.ndim() != 2 || array.shape(1) != fields)) {
    throw py::value_error("values must have shape (rows, " + std::to_string(fields) + ")" +
                          (fields == 1 ? " or (rows,)" : ""));
  }
  return array;
}

template <class T, int N>
void AppendTo(qvt_Array<T, N>& a, const py::object& values) {
  const long long fields = a.FieldCount();
  const py::array_t<T> array = Converted<T>(values, fields);
  const long long rows = array.shape(0);
  if (rows == 0) return;
  a.Seek(a.Length());
  const long long step = std::max(1LL, kValuesPerCall / fields);
  for (long long done = 0; done < rows;) {
    const long long batch = std::min(step, rows - done);
    a.Write(array.data() + done * fields, static_cast<int>(batch));
    done += batch;
  }
}

void AppendTo(StringArray& a, const py::object& values) {
  const int fields = a.FieldCount();
  std::vector<cow_String> texts;
  for (py::handle row : values) {
    if (fields == 1 && (PyUnicode_Check(row.ptr()) || PyBytes_Check(row.ptr()))) {
      texts.push_back(qvtpy_Bytes(row, "a value"));
      continue;
    }
    const py::list items(py::reinterpret_borrow<py::object>(row));
    if (static_cast<int>(items.size()) != fields) {
      throw py::value_error("each row must hold " + std::to_string(fields) + " values");
    }
    for (py::handle item : items) texts.push_back(qvtpy_Bytes(item, "a value"));
  }
  if (texts.empty()) return;
  a.Seek(a.Length());
  a.Write(texts.data(), static_cast<int>(texts.size() / static_cast<std::size_t>(fields)));
}

std::string Repr(const Array& self) {
  if (self.Closed()) return "<qvt.Array handle " + std::to_string(self.Handle()) + " (closed)>";
  return self.Visit([&](auto& a) {
    const int rows = a.Length();
    return "<qvt.Array handle " + std::to_string(self.Handle()) + ", " + qvtpy_TypeName(a.Type()) + ", " +
           std::to_string(rows) + (rows == 1 ? " row of " : " rows of ") + std::to_string(a.FieldCount()) + ">";
  });
}

}  // namespace

py::object qvtpy_OpenArray(const State& state, qvt_Handle handle, qvt_Type type) {
  qvt_Database& db = state->Database();
  const int buffer = db.ReadOnly() ? 0 : kWriterBuffer;
  AnyArray array = type == qvt_TypeInt      ? AnyArray(db.ArrayInt(handle, -1, buffer))
                   : type == qvt_TypeFloat  ? AnyArray(db.ArrayFloat(handle, -1, buffer))
                   : type == qvt_TypeDouble ? AnyArray(db.ArrayDouble(handle, -1, buffer))
                                            : AnyArray(db.ArrayString(handle, -1, buffer));
  return py::cast(std::make_unique<Array>(state, std::move(array)));
}

py::object qvtpy_NewArray(const State& state, qvt_Type type, int fields) {
  state->ObjectsChanged();
  qvt_Database& db = state->Database();
  AnyArray array = type == qvt_TypeInt      ? AnyArray(db.ArrayInt(fields, 4096, kWriterBuffer))
                   : type == qvt_TypeFloat  ? AnyArray(db.ArrayFloat(fields, 4096, kWriterBuffer))
                   : type == qvt_TypeDouble ? AnyArray(db.ArrayDouble(fields, 4096, kWriterBuffer))
                                            : AnyArray(db.ArrayString(fields, 4096, kWriterBuffer));
  return py::cast(std::make_unique<Array>(state, std::move(array)));
}

void qvtpy_RegisterArray(py::module_& m) {
  py::class_<Array>(m, "Array",
                    "An array: rows of a fixed number of values of one element type ('int', 'float', 'double' "
                    "or 'string').")
      .def_property_readonly("handle", &Array::Handle)
      .def_property_readonly("type", [](const Array& a) { return qvtpy_TypeName(a.Type()); })
      .def_property_readonly("dtype",
                             [](const Array& a) -> py::object {
                               switch (a.Type()) {
                                 case qvt_TypeInt: return py::dtype::of<std::int32_t>();
                                 case qvt_TypeFloat: return py::dtype::of<float>();
                                 case qvt_TypeDouble: return py::dtype::of<double>();
                                 default: return py::none();
                               }
                             },
                             "The NumPy element type of read(); None for a string array.")
      .def_property_readonly("fields", [](const Array& a) { return a.Visit([](auto& x) { return x.FieldCount(); }); },
                             "Values per row.")
      .def_property_readonly("shape",
                             [](const Array& a) {
                               return a.Visit([](auto& x) { return py::make_tuple(x.Length(), x.FieldCount()); });
                             })
      .def_property_readonly("closed", &Array::Closed)
      .def("__len__", [](const Array& a) { return a.Visit([](auto& x) { return x.Length(); }); })
      .def("read", &Read, py::arg("first") = 0, py::arg("count") = py::none(), py::arg("out") = py::none(),
           "Rows first to first + count (None: to the end) as a NumPy array of shape (rows, fields), converted "
           "from the file straight into it: a new array, or out's first rows when out is given (a writable "
           "C-ordered array of the element type with room for them; read again into it to spare the "
           "allocation). A string array gives a list of rows, each a list of str (bytes where a value is not "
           "valid UTF-8).")
      .def("append", [](const Array& a, const py::object& v) { a.Visit([&](auto& x) { AppendTo(x, v); }); },
           py::arg("values"),
           "Add rows at the end from an array of shape (rows, fields), or (rows,) for one field. Values of the "
           "same kind are converted (float64 to float32); ints must fit 32 bits. A string array takes rows of "
           "str or bytes.")
      .def("flush", [](const Array& a) { return a.Visit([](auto& x) { return x.Flush(); }); },
           "Write back; answers the flush count.")
      .def("snap", [](const Array& a) { return a.Visit([](auto& x) { return x.Snap(); }); },
           "For a reader after Database.snap(): answers the new flush count once, else 0.")
      .def("close", &Array::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Array& a, py::args) { a.Close(); })
      .def("__repr__", &Repr);
}
