// Table classes of a database in Python: listing and defining them.
#ifndef QVT_PYTHON_QVTPY_TABLE_H
#define QVT_PYTHON_QVTPY_TABLE_H

#include <memory>
#include <string>

#include <pybind11/pybind11.h>

#include "qvt_TableMetadata.h"

class qvtpy_DatabaseState;

// {class name: TableClass} of every stored class.
pybind11::dict qvtpy_Classes(const std::shared_ptr<qvtpy_DatabaseState>& state);
// Stores a class whose fields, a mapping or (name, type) pairs, are defined
// in their given order; answers its TableClass.
pybind11::object qvtpy_DefineClass(const std::shared_ptr<qvtpy_DatabaseState>& state, const std::string& name,
                                   pybind11::object fields, int version);
// A TableClass with the stored fields of metadata.
pybind11::object qvtpy_ClassOf(const qvt_TableMetadata& metadata);

#endif  // QVT_PYTHON_QVTPY_TABLE_H
