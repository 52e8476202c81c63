// The Table class of the Python module: rows as dicts of their present
// fields, columns as NumPy arrays, and a writer's appends.
#include "qvtpy_Table.h"

#include <cmath>
#include <limits>

#include <pybind11/numpy.h>

#include "qvtpy_Database.h"
#include "qvtpy_Values.h"

namespace py = pybind11;
using State = std::shared_ptr<qvtpy_DatabaseState>;

namespace {

// A stored field: its name as the key of rows and columns.
struct Field {
  std::string name;
  py::object key;
  int index;
  qvt_Type type;
};

class Table : public qvtpy_Object {
 public:
  Table(const State& state, qvt_Table table) : qvtpy_Object(state, table.Handle()), m_Table(table) {
    const qvt_TableMetadata& metadata = m_Table->TableMetadata();
    m_Class = metadata.Name();
    for (const auto& entry : metadata.FieldMap()) {
      const qvt_FieldMetadata& f = entry.second;
      if (f.Present()) m_Fields.push_back({f.Name(), qvtpy_Text(f.Name()), f.Index(), f.Type()});
    }
  }
  ~Table() override { Release(); }

  qvt_Table& Get() const {
    CheckOpen();
    return *m_Table;
  }
  const std::string& ClassName() const { return m_Class; }
  const std::vector<Field>& Fields() const { return m_Fields; }

  void FlushObject() override {
    if (m_Table) m_Table->Flush();
  }
  void SnapObject() override {
    if (m_Table) m_Table->Snap();
  }
  void Release() noexcept override { m_Table.reset(); }

 protected:
  bool Holds() const override { return m_Table.has_value(); }

 private:
  mutable std::optional<qvt_Table> m_Table;
  std::string m_Class;
  std::vector<Field> m_Fields;
};

int Length(const Table& t) { return t.Get().Length(); }

py::dict Row(const Table& t, long long index) {
  qvt_Table& table = t.Get();
  const int length = table.Length();
  if (index < 0) index += length;
  if (index < 0 || index >= length) {
    throw py::index_error("row " + std::to_string(index) + " is outside table '" + t.ClassName() + "' of " +
                          std::to_string(length) + " rows");
  }
  qvt_Row row = table.ReadRow(static_cast<int>(index));
  py::dict out;
  for (const Field& f : t.Fields()) {
    const qvt_FieldHandle fh(f.index);
    if (!row.DataIsPresent(fh)) continue;
    switch (f.type) {
      case qvt_TypeInt: out[f.key] = row.ReadFieldInt(fh); break;
      case qvt_TypeHandle: out[f.key] = row.ReadFieldHandle(fh); break;
      case qvt_TypeFloat: out[f.key] = row.ReadFieldFloat(fh); break;
      case qvt_TypeDouble: out[f.key] = row.ReadFieldDouble(fh); break;
      default: out[f.key] = qvtpy_Text(row.ReadFieldString(fh)); break;
    }
  }
  return out;
}

const Field& FindField(const Table& t, py::handle name) {
  const std::string bytes = qvtpy_Bytes(name, "a field name");
  for (const Field& f : t.Fields()) {
    if (f.name == bytes) return f;
  }
  throw py::key_error("table class '" + t.ClassName() + "' stores no field '" + bytes + "'");
}

// Values of one numeric field for every row; absent values hold fill and
// are marked in mask.
template <class T, class Read>
py::array_t<T> Values(qvt_Table& table, const Field& f, T fill, std::vector<bool>& mask, Read read) {
  const int length = table.Length();
  py::array_t<T> data(length);
  T* out = data.mutable_data();
  mask.assign(static_cast<std::size_t>(length), false);
  const qvt_FieldHandle fh(f.index);
  for (int r = 0; r < length; ++r) {
    qvt_Row row = table.ReadRow(r);
    if (row.DataIsPresent(fh)) {
      out[r] = read(row, fh);
    } else {
      out[r] = fill;
      mask[static_cast<std::size_t>(r)] = true;
    }
  }
  return data;
}

py::object Masked(py::object data, const std::vector<bool>& mask) {
  py::array_t<bool> m(static_cast<py::ssize_t>(mask.size()));
  for (std::size_t i = 0; i < mask.size(); ++i) m.mutable_data()[i] = mask[i];
  return py::module_::import("numpy.ma").attr("MaskedArray")(data, py::arg("mask") = m);
}

py::object Column(const Table& t, const Field& f) {
  qvt_Table& table = t.Get();
  std::vector<bool> mask;
  switch (f.type) {
    case qvt_TypeInt:
      return Masked(Values<std::int32_t>(table, f, 0, mask, [](qvt_Row& r, const qvt_FieldHandle& h) {
                      return r.ReadFieldInt(h);
                    }),
                    mask);
    case qvt_TypeHandle:
      return Masked(Values<std::uint32_t>(table, f, 0, mask, [](qvt_Row& r, const qvt_FieldHandle& h) {
                      return r.ReadFieldHandle(h);
                    }),
                    mask);
    case qvt_TypeFloat:
      return Values<float>(table, f, std::numeric_limits<float>::quiet_NaN(), mask,
                           [](qvt_Row& r, const qvt_FieldHandle& h) { return r.ReadFieldFloat(h); });
    case qvt_TypeDouble:
      return Values<double>(table, f, std::numeric_limits<double>::quiet_NaN(), mask,
                            [](qvt_Row& r, const qvt_FieldHandle& h) { return r.ReadFieldDouble(h); });
    default: {
      py::list out;
      const qvt_FieldHandle fh(f.index);
      for (int r = 0, n = table.Length(); r < n; ++r) {
        qvt_Row row = table.ReadRow(r);
        out.append(row.DataIsPresent(fh) ? qvtpy_Text(row.ReadFieldString(fh)) : py::none());
      }
      return out;
    }
  }
}

py::dict Columns(const Table& t) {
  py::dict out;
  for (const Field& f : t.Fields()) out[f.key] = Column(t, f);
  return out;
}

// One value to store, converted before the row is made so that a bad value
// leaves the table as it was.
struct Pending {
  const Field* field = nullptr;
  long long integer = 0;
  double real = 0;
  std::string text;
};

void Append(const Table& t, const py::dict& values) {
  qvt_Table& table = t.Get();
  std::vector<Pending> pending;
  for (const auto& item : values) {
    const std::string name = qvtpy_Bytes(item.first, "a field name");
    const Field* field = nullptr;
    for (const Field& f : t.Fields()) {
      if (f.name == name) field = &f;
    }
    // An unknown name gets the library's own message.
    if (field == nullptr) table.TableMetadata().Verify(qvt_FieldHandle(name), qvt_TypeNone);
    if (field == nullptr) throw py::key_error("table class '" + t.ClassName() + "' stores no field '" + name + "'");
    if (item.second.is_none()) continue;
    Pending p;
    p.field = field;
    switch (field->type) {
      case qvt_TypeInt: p.integer = qvtpy_Integer(item.second, INT32_MIN, INT32_MAX, name.c_str()); break;
      case qvt_TypeHandle: p.integer = qvtpy_Integer(item.second, 0, UINT32_MAX, name.c_str()); break;
      case qvt_TypeFloat:
      case qvt_TypeDouble: p.real = qvtpy_Real(item.second, name.c_str()); break;
      default: p.text = qvtpy_Bytes(item.second, name.c_str()); break;
    }
    pending.push_back(std::move(p));
  }
  qvt_Row row = table.NewRow();
  for (const Pending& p : pending) {
    const qvt_FieldHandle fh(p.field->index);
    switch (p.field->type) {
      case qvt_TypeInt: row.WriteFieldInt(fh, static_cast<int>(p.integer)); break;
      case qvt_TypeHandle: row.WriteFieldHandle(fh, static_cast<qvt_Handle>(p.integer)); break;
      case qvt_TypeFloat: row.WriteFieldFloat(fh, static_cast<float>(p.real)); break;
      case qvt_TypeDouble: row.WriteFieldDouble(fh, p.real); break;
      default: row.WriteFieldString(fh, p.text); break;
    }
  }
}

// Rows one by one, up to the length the table has when each is asked for.
struct Rows {
  py::object owner;
  const Table* table;
  int next = 0;
};

std::string Repr(const Table& t) {
  if (t.Closed()) return "<qvt.Table handle " + std::to_string(t.Handle()) + " (closed)>";
  const int rows = t.Get().Length();
  return "<qvt.Table handle " + std::to_string(t.Handle()) + ", class '" + t.ClassName() + "', " +
         std::to_string(rows) + (rows == 1 ? " row>" : " rows>");
}

}  // namespace

py::object qvtpy_OpenTable(const State& state, qvt_Handle handle) {
  return py::cast(std::make_unique<Table>(state, state->Database().Table(handle, -1, -1)));
}

py::object qvtpy_NewTable(const State& state, const std::string& className) {
  state->ObjectsChanged();
  return py::cast(std::make_unique<Table>(state, state->Database().Table(className, 4096, -1)));
}

void qvtpy_RegisterTable(py::module_& m) {
  py::class_<Rows>(m, "TableRows")
      .def("__iter__", [](Rows& r) -> Rows& { return r; })
      .def("__next__", [](Rows& r) {
        if (r.next >= Length(*r.table)) throw py::stop_iteration();
        return Row(*r.table, r.next++);
      });

  py::class_<Table>(m, "Table",
                    "A table: rows of named, typed fields. table[i] is a row as a dict of the fields it holds; "
                    "column(name) gives a NumPy array (absent values NaN for float and double fields; int and "
                    "handle columns are numpy.ma masked arrays with absent values masked; string columns are "
                    "lists with None).")
      .def_property_readonly("handle", &Table::Handle)
      .def_property_readonly("class_name", [](const Table& t) { return qvtpy_Text(t.ClassName()); })
      .def_property_readonly("table_class", [](const Table& t) { return qvtpy_ClassOf(t.Get().TableMetadata()); })
      .def_property_readonly("fields",
                             [](const Table& t) {
                               py::dict out;
                               for (const Field& f : t.Fields()) out[f.key] = qvtpy_TypeName(f.type);
                               return out;
                             },
                             "Stored field name -> type name.")
      .def_property_readonly("closed", &Table::Closed)
      .def_property_readonly("flush_count", [](const Table& t) { return t.Get().GetFlushCount(); })
      .def("__len__", &Length)
      .def("__getitem__", &Row, py::arg("index"))
      .def("__iter__", [](py::object self) { return Rows{self, &py::cast<const Table&>(self)}; })
      .def("column", [](const Table& t, py::handle name) { return Column(t, FindField(t, name)); },
           py::arg("name"), "One field of every row.")
      .def("columns", &Columns, "Every stored field's column, by name.")
      .def("append", &Append, py::arg("row"),
           "Add a row from a dict of field values (None or a missing key leaves the field absent).")
      .def("flush", [](const Table& t) { return t.Get().Flush(); }, "Write new rows; answers the flush count.")
      .def("snap", [](const Table& t) { return t.Get().Snap(); },
           "For a reader after Database.snap(): take up new rows; answers the new flush count or 0.")
      .def("close", &Table::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Table& t, py::args) { t.Close(); })
      .def("__repr__", &Repr);
}
