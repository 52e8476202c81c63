// The qvt Python module: databases of engineering results read and written
// from Python, with NumPy arrays for columns and arrays. A layer on the
// library's public headers only.
#include <pybind11/pybind11.h>

#include "qvtpy_Database.h"
#include "qvtpy_Errors.h"

PYBIND11_MODULE(qvt, m) {
  m.doc() =
      "Databases of engineering results: tables, arrays, tagged streams and raw spaces in one file, read while "
      "they are written. One database, with its objects, is used by one thread at a time.";
  qvtpy_RegisterErrors(m);
  qvtpy_RegisterTableClass(m);
  qvtpy_RegisterTable(m);
  qvtpy_RegisterArray(m);
  qvtpy_RegisterStream(m);
  qvtpy_RegisterSpace(m);
  qvtpy_RegisterDatabase(m);
}
