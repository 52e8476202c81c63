// The exception classes of the qvt module and the one translator from the
// library's exception family to them.
#include "qvtpy_Errors.h"

#include "nex_Exception.h"
#include "qvt_FileException.h"

namespace py = pybind11;

namespace {

struct Classes {
  PyObject* error = nullptr;
  PyObject* internal = nullptr;
  PyObject* file = nullptr;
  PyObject* noSuchFile = nullptr;
  PyObject* notReadable = nullptr;
  PyObject* readOnly = nullptr;
  PyObject* badParameter = nullptr;
  PyObject* connect = nullptr;
  PyObject* connectionLost = nullptr;
  PyObject* closed = nullptr;
};

Classes g_Classes;  // owned by the module, which holds a reference to each

PyObject* Make(py::module_& m, const char* name, std::initializer_list<PyObject*> bases, const char* doc) {
  py::tuple tuple(bases.size());
  std::size_t i = 0;
  for (PyObject* base : bases) tuple[i++] = py::reinterpret_borrow<py::object>(base);
  const std::string qualified = std::string("qvt.") + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, tuple.ptr(), nullptr);
  if (cls == nullptr) throw py::error_already_set();
  m.add_object(name, py::reinterpret_steal<py::object>(cls));
  return cls;
}

void Set(PyObject* cls, const nex_Exception& e) { PyErr_SetString(cls, e.AsString().c_str()); }

}  // namespace

void qvtpy_RegisterErrors(py::module_& m) {
  Classes& c = g_Classes;
  c.error = Make(m, "Error", {PyExc_Exception}, "A failure the qvt library reports; the text is its message.");
  c.internal = Make(m, "InternalError", {c.error},
                    "A failed internal consistency check; the text is the condition that failed.");
  c.file = Make(m, "FileError", {c.error, PyExc_OSError}, "A failure concerning a database file as a whole.");
  c.noSuchFile = Make(m, "NoSuchFile", {c.file, PyExc_FileNotFoundError}, "The file does not exist.");
  c.notReadable = Make(m, "NotReadable", {c.file, PyExc_PermissionError}, "The file cannot be read.");
  c.readOnly = Make(m, "ReadOnlyFile", {c.file, PyExc_PermissionError}, "A write to a read-only file.");
  c.badParameter = Make(m, "BadParameter", {c.file, PyExc_ValueError}, "A file method got a bad argument.");
  c.connect = Make(m, "ConnectError", {c.file, PyExc_ConnectionError}, "A remote file could not be reached.");
  c.connectionLost =
      Make(m, "ConnectionLost", {c.file, PyExc_ConnectionError}, "The connection to a remote file was lost.");
  c.closed = Make(m, "ClosedError", {PyExc_ValueError}, "An operation on a closed database or object.");

  py::register_exception_translator([](std::exception_ptr p) {
    const Classes& k = g_Classes;
    try {
      if (p) std::rethrow_exception(p);
    } catch (const qvt_FileNoSuchFile& e) {
      Set(k.noSuchFile, e);
    } catch (const qvt_FileNotReadable& e) {
      Set(k.notReadable, e);
    } catch (const qvt_FileReadOnlyExc& e) {
      Set(k.readOnly, e);
    } catch (const qvt_FileBadParameterExc& e) {
      Set(k.badParameter, e);
    } catch (const qvt_FileConnectExc& e) {
      Set(k.connect, e);
    } catch (const qvt_FileFailExc& e) {
      Set(k.connectionLost, e);
    } catch (const qvt_FileException& e) {
      Set(k.file, e);
    } catch (const nex_AssertException& e) {
      Set(k.internal, e);
    } catch (const nex_Exception& e) {
      Set(k.error, e);
    } catch (const qvtpy_ClosedError& e) {
      PyErr_SetString(k.closed, e.what());
    }
  });
}
