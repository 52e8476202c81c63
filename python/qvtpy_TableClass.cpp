// The TableClass of the Python module: a table class's name, version and
// stored fields, as read from or written to the metadata pool.
#include "qvtpy_Database.h"
#include "qvtpy_Table.h"
#include "qvtpy_Values.h"

namespace py = pybind11;

namespace {

struct TableClass {
  py::object name;
  int version = 0;
  py::dict fields;  // stored field name -> type name, in the class's order
};

std::string Repr(const TableClass& c) {
  return "<qvt.TableClass " + std::string(py::repr(c.name)) + " version " + std::to_string(c.version) + ", " +
         std::string(py::repr(c.fields)) + ">";
}

}  // namespace

py::object qvtpy_ClassOf(const qvt_TableMetadata& metadata) {
  TableClass c;
  c.name = qvtpy_Text(metadata.Name());
  c.version = metadata.ClassVersion();
  for (const auto& entry : metadata.FieldMap()) {
    if (entry.second.Present()) c.fields[qvtpy_Text(entry.first)] = qvtpy_TypeName(entry.second.Type());
  }
  return py::cast(std::move(c));
}

py::dict qvtpy_Classes(const std::shared_ptr<qvtpy_DatabaseState>& state) {
  qvt_Database& db = state->Database();
  py::dict out;
  for (const cow_String& name : db.GetTableMetadataNames()) {
    out[qvtpy_Text(name)] = qvtpy_ClassOf(db.GetTableMetadata(name));
  }
  return out;
}

py::object qvtpy_DefineClass(const std::shared_ptr<qvtpy_DatabaseState>& state, const std::string& name,
                             py::object fields, int version) {
  qvt_Database& db = state->Database();
  qvt_TableMetadata metadata(name, version);
  if (py::isinstance<py::dict>(fields)) fields = fields.attr("items")();
  for (py::handle pair : fields) {
    const py::tuple item = py::tuple(py::reinterpret_borrow<py::object>(pair));
    if (item.size() != 2) throw py::value_error("each field must be a (name, type) pair");
    const std::string field = qvtpy_Bytes(item[0], "a field name");
    switch (qvtpy_TypeCode(py::cast<std::string>(item[1]),
                           {qvt_TypeInt, qvt_TypeHandle, qvt_TypeFloat, qvt_TypeDouble, qvt_TypeString})) {
      case qvt_TypeInt: metadata.DefineIntField(field); break;
      case qvt_TypeHandle: metadata.DefineHandleField(field); break;
      case qvt_TypeFloat: metadata.DefineFloatField(field); break;
      case qvt_TypeDouble: metadata.DefineDoubleField(field); break;
      default: metadata.DefineStringField(field); break;
    }
  }
  return qvtpy_ClassOf(db.Bind(metadata));
}

void qvtpy_RegisterTableClass(py::module_& m) {
  py::class_<TableClass>(m, "TableClass", "A table class: its name, version and stored fields.")
      .def_readonly("name", &TableClass::name)
      .def_readonly("version", &TableClass::version)
      .def_readonly("fields", &TableClass::fields, "Stored field name -> 'int', 'handle', 'float', 'double' or "
                                                   "'string', in the order of the class's records.")
      .def("__repr__", &Repr);
}
