// qvt.open, qvt.create and the Database class of the Python module.
#include "qvtpy_Database.h"

#include <algorithm>
#include <sstream>

#include "qvtpy_Errors.h"
#include "qvtpy_Table.h"
#include "qvtpy_Values.h"

namespace py = pybind11;
using State = std::shared_ptr<qvtpy_DatabaseState>;

namespace {

// Every database opened in this process, so that those still open when the
// interpreter exits are closed (a writer's last flush) before it goes.
std::vector<std::weak_ptr<qvtpy_DatabaseState>>& OpenStates() {
  static std::vector<std::weak_ptr<qvtpy_DatabaseState>> states;
  return states;
}

State Track(const qvt_File& file, const qvt_Database& db) {
  auto state = std::make_shared<qvtpy_DatabaseState>(file, db);
  auto& states = OpenStates();
  states.erase(std::remove_if(states.begin(), states.end(), [](const auto& s) { return s.expired(); }),
               states.end());
  states.push_back(state);
  return state;
}

void CloseAtExit() {
  for (const auto& weak : OpenStates()) {
    if (const State state = weak.lock()) {
      try {
        state->Close();
      } catch (const std::exception& e) {
        py::print("qvt: closing", state->Path(), "at exit:", e.what(), py::arg("file") = py::module_::import("sys").attr("stderr"));
      }
    }
  }
}

State Open(const std::string& path, const std::string& mode, const std::string& typeCode) {
  if (mode != "r" && mode != "r+") throw py::value_error("mode must be 'r' or 'r+', not '" + mode + "'");
  const bool read = mode == "r";
  qvt_File file = qvt_File::Open(path, read ? 0 : 1, read);
  qvt_Database db = qvt_Database::Open(file, typeCode);
  db.Bind();
  return Track(file, db);
}

State Create(const std::string& path, const std::string& typeCode, const std::string& description, bool compressed,
             py::object creationTime) {
  if (creationTime.is_none()) creationTime = py::module_::import("time").attr("time")();
  const long seconds = static_cast<long>(qvtpy_Integer(py::int_(creationTime), 0, 0x7fffffff, "creation_time"));
  qvt_File file = compressed ? qvt_File::CreateCompressed(path) : qvt_File::Open(path, 2, false);
  qvt_Database db = qvt_Database::Create(file, typeCode, description, seconds);
  return Track(file, db);
}

// Statistics lines "Name (unit)=   value" as a dict of name to int value.
py::dict Statistics(const std::vector<cow_String>& lines) {
  py::dict out;
  for (const cow_String& line : lines) {
    const std::size_t equals = line.rfind('=');
    if (equals == std::string::npos) continue;
    std::string name = line.substr(0, equals);
    name.erase(name.find_last_not_of(' ') + 1);
    std::istringstream value(line.substr(equals + 1));
    long long number = 0;
    if (value >> number) {
      out[py::str(name)] = number;
    } else {
      out[py::str(name)] = line.substr(equals + 1);
    }
  }
  return out;
}

std::string Kind(qvt_Type type) {
  switch (type) {
    case qvt_TypeTable: return "table";
    case qvt_TypeTaggedStream: return "tagged stream";
    case qvt_TypeInt:
    case qvt_TypeFloat:
    case qvt_TypeDouble:
    case qvt_TypeString: return qvtpy_TypeName(type) + " array";
    default: return "space";
  }
}

py::object Item(const State& state, qvt_Handle handle) {
  if (!state->IsObject(handle)) throw py::key_error("no object has handle " + std::to_string(handle));
  const qvt_Type type = state->Database().HandleType(handle);
  switch (type) {
    case qvt_TypeTable: return qvtpy_OpenTable(state, handle);
    case qvt_TypeTaggedStream: return qvtpy_OpenStream(state, handle);
    case qvt_TypeInt:
    case qvt_TypeFloat:
    case qvt_TypeDouble:
    case qvt_TypeString: return qvtpy_OpenArray(state, handle, type);
    default: return qvtpy_OpenSpace(state, handle);
  }
}

std::string Repr(const State& state) {
  if (state->Closed()) return "<qvt.Database '" + state->Path() + "' (closed)>";
  qvt_Database& db = state->Database();
  return "<qvt.Database '" + state->Path() + "' " + (db.ReadOnly() ? "reader" : "writer") + ", flush count " +
         std::to_string(db.GetFlushCount()) + ">";
}

}  // namespace

void qvtpy_RegisterDatabase(py::module_& m) {
  py::enum_<qvt_FileStatus::QvtFileStatus>(m, "FileStatus", "What a status check found in the file.")
      .value("UNCHANGED", qvt_FileStatus::Unchanged)
      .value("RECREATED", qvt_FileStatus::Recreated)
      .value("UPDATED", qvt_FileStatus::Updated)
      .value("CHECK_FAILED", qvt_FileStatus::CheckFailed)
      .value("IN_TRANSACTION", qvt_FileStatus::InTransaction);

  py::class_<qvtpy_DatabaseState, State>(m, "Database",
                                         "A database file. Objects opened from it keep it open; close() (or the "
                                         "end of a with block) releases them first, after which they raise "
                                         "ClosedError.")
      .def_property_readonly("path", &qvtpy_DatabaseState::Path, "The file name the database was opened with.")
      .def_property_readonly("closed", &qvtpy_DatabaseState::Closed)
      .def_property_readonly("description", [](const State& s) { return qvtpy_Text(s->Database().Description()); })
      .def_property_readonly("read_only", [](const State& s) { return s->Database().ReadOnly(); })
      .def_property_readonly("flush_count", [](const State& s) { return s->Database().GetFlushCount(); },
                             "The header's flush count as last read or written.")
      .def_property_readonly("creation_time",
                             [](const State& s) {
                               s->Database();
                               return qvt_Database::GetCreationTime(s->File());
                             },
                             "The header's creation time in seconds since 1970 (0 for an old file).")
      .def("statistics", [](const State& s) { return Statistics(s->Database().GetDBStatistics()); },
           "The file's use by its header, linkage and pools, as a dict of name to value.")
      .def("object_statistics",
           [](const State& s, qvt_Handle h) { return Statistics(s->Database().GetObjStatistics(h)); },
           py::arg("handle"), "{'Linkage_Count': extents} of the object's space; {} when the handle names none.")
      .def("file_status", [](const State& s) { return s->Database().FileStatus(); },
           "For a reader: whether the writer updated or re-created the file since it was opened or snapped.")
      .def("snap", &qvtpy_DatabaseState::Snap,
           "For a reader: take up what the writer flushed; every open object is refreshed too. True when "
           "something new was found.")
      .def("flush", &qvtpy_DatabaseState::Flush,
           "Flush every open object, then the database: what was written becomes durable and visible to readers.")
      .def("close", &qvtpy_DatabaseState::Close, "Flush a writer, release every object, close the file.")
      .def("__enter__", [](const State& s) { return s; })
      .def("__exit__", [](const State& s, py::args) { s->Close(); })
      .def("objects",
           [](const State& s) {
             py::list out;
             qvt_Database& db = s->Database();
             for (const qvt_Handle h : db.ObjectHandles()) out.append(py::make_tuple(h, Kind(db.HandleType(h))));
             return out;
           },
           "Every object as (handle, kind); kind is 'table', 'tagged stream', '<type> array' or 'space'.")
      .def("__getitem__", &Item, py::arg("handle"),
           "The object of a handle as a Table, Array, TaggedStream or Space (any other space).")
      .def("classes", &qvtpy_Classes, "The stored table classes by name.")
      .def("define_class", &qvtpy_DefineClass, py::arg("name"), py::arg("fields"), py::arg("version") = 1,
           "Store a table class: fields maps each name to 'int', 'handle', 'float', 'double' or 'string'.")
      .def("create_table", &qvtpy_NewTable, py::arg("class_name"), "A new table of a stored class.")
      .def("create_array",
           [](const State& s, const std::string& type, int fields) {
             return qvtpy_NewArray(s, qvtpy_TypeCode(type, {qvt_TypeInt, qvt_TypeFloat, qvt_TypeDouble, qvt_TypeString}),
                                   fields);
           },
           py::arg("type"), py::arg("fields") = 1,
           "A new array of 'int', 'float', 'double' or 'string' elements, fields per row.")
      .def("create_stream", &qvtpy_NewStream, "A new tagged stream.")
      .def("__repr__", &Repr);

  m.def("open", &Open, py::arg("path"), py::arg("mode") = "r", py::arg("type_code") = "",
        "Open a database: mode 'r' reads, 'r+' updates. A plain, compressed or remote (URL) file. A non-empty "
        "type_code must match the file's.");
  m.def("create", &Create, py::arg("path"), py::arg("type_code"), py::arg("description"),
        py::arg("compressed") = false, py::arg("creation_time") = py::none(),
        "Create (or empty) a database file; compressed makes a compressed file. creation_time defaults to now.");
  py::module_::import("atexit").attr("register")(py::cpp_function(&CloseAtExit));
}
