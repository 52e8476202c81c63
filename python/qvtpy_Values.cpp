// Texts, integers and type names between Python and the library.
#include "qvtpy_Values.h"

#include <sstream>

namespace py = pybind11;

py::object qvtpy_Text(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (text != nullptr) return py::reinterpret_steal<py::object>(text);
  PyErr_Clear();
  return py::bytes(bytes);
}

std::string qvtpy_Bytes(py::handle value, const char* what) {
  if (PyUnicode_Check(value.ptr())) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();
    return std::string(data, static_cast<std::size_t>(size));
  }
  if (PyBytes_Check(value.ptr())) return std::string(py::reinterpret_borrow<py::bytes>(value));
  throw py::type_error(std::string(what) + " must be str or bytes, not " +
                       std::string(py::str(value.get_type().attr("__name__"))));
}

long long qvtpy_Integer(py::handle value, long long low, long long high, const char* what) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be an integer, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  }
  int overflow = 0;
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || v < low || v > high) {
    std::ostringstream text;
    text << what << " " << std::string(py::str(index)) << " is outside " << low << " to " << high;
    PyErr_SetString(PyExc_OverflowError, text.str().c_str());
    throw py::error_already_set();
  }
  return v;
}

double qvtpy_Real(py::handle value, const char* what) {
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    throw py::type_error(std::string(what) + " must be a number, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  }
  return v;
}

std::string qvtpy_TypeName(qvt_Type type) {
  switch (type) {
    case qvt_TypeInt: return "int";
    case qvt_TypeHandle: return "handle";
    case qvt_TypeFloat: return "float";
    case qvt_TypeDouble: return "double";
    case qvt_TypeString: return "string";
    case qvt_TypeFixedString: return "fixed string";
    default: return "type " + std::to_string(static_cast<int>(type));
  }
}

qvt_Type qvtpy_TypeCode(const std::string& name, std::initializer_list<qvt_Type> allowed) {
  std::string names;
  for (const qvt_Type type : allowed) {
    if (qvtpy_TypeName(type) == name) return type;
    names += (names.empty() ? "'" : ", '") + qvtpy_TypeName(type) + "'";
  }
  throw py::value_error("unknown type '" + name + "'; one of " + names);
}
