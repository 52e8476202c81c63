// The Space class of the Python module: any other space of a database (the
// pools, the reserved space, a caller's raw bytes) read as bytes.
#include <climits>
#include <optional>

#include "qvtpy_Database.h"
#include "qvtpy_Values.h"

namespace py = pybind11;
using State = std::shared_ptr<qvtpy_DatabaseState>;

namespace {

class Space : public qvtpy_Object {
 public:
  Space(const State& state, qvt_Space space) : qvtpy_Object(state, space.Handle()), m_Space(space) {}

  qvt_Space& Get() const {
    CheckOpen();
    return *m_Space;
  }
  void Release() noexcept override { m_Space.reset(); }

 protected:
  bool Holds() const override { return m_Space.has_value(); }

 private:
  mutable std::optional<qvt_Space> m_Space;
};

py::bytes Read(const Space& self, long long offset, const py::object& count) {
  qvt_Space& space = self.Get();
  const long long length = space.Length();
  if (offset < 0 || offset > length) {
    throw py::index_error("offset " + std::to_string(offset) + " is outside the space of " + std::to_string(length) +
                          " bytes");
  }
  long long wanted = count.is_none() ? length - offset : qvtpy_Integer(count, 0, LLONG_MAX, "count");
  wanted = std::min(wanted, length - offset);
  std::string bytes(static_cast<std::size_t>(wanted), '\0');
  space.Seek(offset);
  long long done = 0;
  while (done < wanted) {
    const int step = static_cast<int>(std::min<long long>(wanted - done, INT_MAX));
    const int got = space.Read(&bytes[static_cast<std::size_t>(done)], step);
    if (got <= 0) break;
    done += got;
  }
  bytes.resize(static_cast<std::size_t>(done));
  return py::bytes(bytes);
}

std::string Repr(const Space& self) {
  if (self.Closed()) return "<qvt.Space handle " + std::to_string(self.Handle()) + " (closed)>";
  return "<qvt.Space handle " + std::to_string(self.Handle()) + ", " + std::to_string(self.Get().Length()) +
         " bytes>";
}

}  // namespace

py::object qvtpy_OpenSpace(const State& state, qvt_Handle handle) {
  return py::cast(std::make_unique<Space>(state, state->Database().Space(handle, -1)));
}

void qvtpy_RegisterSpace(py::module_& m) {
  py::class_<Space>(m, "Space", "A space holding no table, array or tagged stream: its raw bytes.")
      .def_property_readonly("handle", &Space::Handle)
      .def_property_readonly("closed", &Space::Closed)
      .def("__len__", [](const Space& s) { return s.Get().Length(); })
      .def("read", &Read, py::arg("offset") = 0, py::arg("count") = py::none(),
           "count bytes (None: to the end) from offset.")
      .def("close", &Space::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Space& s, py::args) { s.Close(); })
      .def("__repr__", &Repr);
}
