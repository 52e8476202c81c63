// The Python exceptions of the qvt module and the translation of the
// library's exceptions into them. Part of the Python layer, which sits on
// the library's public headers only.
#ifndef QVT_PYTHON_QVTPY_ERRORS_H
#define QVT_PYTHON_QVTPY_ERRORS_H

#include <string>

#include <pybind11/pybind11.h>

// Creates the exception classes in module m and registers the translator:
// every library exception reaches Python with the library's message as its
// text. The file exceptions keep classes of their own, which also derive
// from the matching built-in OSError subclasses.
void qvtpy_RegisterErrors(pybind11::module_& m);

// Raised by an object whose database, or the object itself, was closed.
// Derives from ValueError, as a closed Python file does.
class qvtpy_ClosedError : public std::exception {
 public:
  explicit qvtpy_ClosedError(std::string what) : m_What(std::move(what)) {}
  const char* what() const noexcept override { return m_What.c_str(); }

 private:
  std::string m_What;
};

#endif  // QVT_PYTHON_QVTPY_ERRORS_H
