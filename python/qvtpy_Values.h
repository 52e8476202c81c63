// Values between Python and the library: texts, which the library keeps as
// bytes, and the names of its type codes.
#ifndef QVT_PYTHON_QVTPY_VALUES_H
#define QVT_PYTHON_QVTPY_VALUES_H

#include <initializer_list>
#include <string>

#include <pybind11/pybind11.h>

#include "qvt_Handle.h"

// A stored text as str when its bytes are valid UTF-8, else as bytes: a
// text is never altered or lost in decoding.
pybind11::object qvtpy_Text(const std::string& bytes);
// A str as its UTF-8 bytes, a bytes object as it is. THROWS TypeError
// naming what for anything else.
std::string qvtpy_Bytes(pybind11::handle value, const char* what);

// The integer value of an int-like object within [low, high]. THROWS
// TypeError for a non-integer and OverflowError outside the range.
long long qvtpy_Integer(pybind11::handle value, long long low, long long high, const char* what);

// The value of a number as a double. THROWS TypeError for a non-number.
double qvtpy_Real(pybind11::handle value, const char* what);

// "int", "handle", "float", "double", "string", "fixed string"; "type N"
// for any other code.
std::string qvtpy_TypeName(qvt_Type type);
// The type code named name among allowed. THROWS ValueError listing the
// allowed names for any other name.
qvt_Type qvtpy_TypeCode(const std::string& name, std::initializer_list<qvt_Type> allowed);

#endif  // QVT_PYTHON_QVTPY_VALUES_H
