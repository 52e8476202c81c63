// The TaggedStream class of the Python module: iteration yields (kind, id,
// value) records from the start; a writer writes records by kind.
#include <climits>
#include <optional>

#include "qvtpy_Database.h"
#include "qvtpy_Values.h"

namespace py = pybind11;
using State = std::shared_ptr<qvtpy_DatabaseState>;

namespace {

class Stream : public qvtpy_Object {
 public:
  Stream(const State& state, qvt_TaggedStream stream) : qvtpy_Object(state, stream.Handle()), m_Stream(stream) {}

  qvt_TaggedStream& Get() const {
    CheckOpen();
    return *m_Stream;
  }

  void FlushObject() override {
    if (m_Stream) m_Stream->Flush();
  }
  void SnapObject() override {
    if (m_Stream) m_Stream->Snap();
  }
  void Release() noexcept override { m_Stream.reset(); }

 protected:
  bool Holds() const override { return m_Stream.has_value(); }

 private:
  mutable std::optional<qvt_TaggedStream> m_Stream;
};

// One walk over the records: a stream handle of its own, since a stream is
// read only forward from its first record.
class Records : public qvtpy_Object {
 public:
  Records(const State& state, qvt_TaggedStream stream) : qvtpy_Object(state, stream.Handle()), m_Stream(stream) {}

  py::object Next() {
    CheckOpen();
    qvt_TaggedStream& s = *m_Stream;
    if (!s.Next()) throw py::stop_iteration();
    const qvt_Type type = s.GetType();
    py::object value;
    switch (type) {
      case qvt_TypeInt: value = py::int_(s.GetInt()); break;
      case qvt_TypeHandle: value = py::int_(s.GetHandle()); break;
      case qvt_TypeFloat: value = py::float_(s.GetFloat()); break;
      case qvt_TypeDouble: value = py::float_(s.GetDouble()); break;
      default: value = qvtpy_Text(s.GetString()); break;
    }
    return py::make_tuple(qvtpy_TypeName(type), s.GetID(), value);
  }

  void SnapObject() override {
    if (m_Stream) m_Stream->Snap();
  }
  void Release() noexcept override { m_Stream.reset(); }

 protected:
  bool Holds() const override { return m_Stream.has_value(); }

 private:
  std::optional<qvt_TaggedStream> m_Stream;
};

void Write(const Stream& self, const std::string& kind, py::handle id, py::handle value) {
  qvt_TaggedStream& s = self.Get();
  const int tag = static_cast<int>(qvtpy_Integer(id, INT32_MIN, INT32_MAX, "id"));
  switch (qvtpy_TypeCode(kind, {qvt_TypeInt, qvt_TypeHandle, qvt_TypeFloat, qvt_TypeDouble, qvt_TypeString,
                                qvt_TypeFixedString})) {
    case qvt_TypeInt: s.WriteInt(tag, static_cast<int>(qvtpy_Integer(value, INT32_MIN, INT32_MAX, "value"))); break;
    case qvt_TypeHandle: s.WriteHandle(tag, static_cast<qvt_Handle>(qvtpy_Integer(value, 0, UINT32_MAX, "value"))); break;
    case qvt_TypeFloat: s.WriteFloat(tag, static_cast<float>(qvtpy_Real(value, "value"))); break;
    case qvt_TypeDouble: s.WriteDouble(tag, qvtpy_Real(value, "value")); break;
    case qvt_TypeString: s.WriteString(tag, qvtpy_Bytes(value, "value")); break;
    default: s.WriteFixedString(tag, qvtpy_Bytes(value, "value")); break;
  }
}

py::object Iterate(const Stream& self, const State& state) {
  qvt_TaggedStream& s = self.Get();
  // A writer's records reach the space first, for the new handle to see.
  if (!state->Database().ReadOnly()) s.Flush();
  return py::cast(std::make_unique<Records>(state, state->Database().TaggedStream(self.Handle(), 0)));
}

std::string Repr(const Stream& self) {
  if (self.Closed()) return "<qvt.TaggedStream handle " + std::to_string(self.Handle()) + " (closed)>";
  return "<qvt.TaggedStream handle " + std::to_string(self.Handle()) + ", " +
         std::to_string(self.Get().SpaceLength()) + " bytes>";
}

}  // namespace

py::object qvtpy_OpenStream(const State& state, qvt_Handle handle) {
  return py::cast(std::make_unique<Stream>(state, state->Database().TaggedStream(handle, 0)));
}

py::object qvtpy_NewStream(const State& state) {
  state->ObjectsChanged();
  return py::cast(std::make_unique<Stream>(state, state->Database().TaggedStream(0)));
}

void qvtpy_RegisterStream(py::module_& m) {
  py::class_<Records>(m, "TaggedStreamRecords")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Records::Next);

  py::class_<Stream>(m, "TaggedStream",
                     "A tagged stream: records of (kind, id, value). Iterating walks the records from the first; "
                     "kind is 'int', 'handle', 'float', 'double', 'string' or 'fixed string'.")
      .def_property_readonly("handle", &Stream::Handle)
      .def_property_readonly("closed", &Stream::Closed)
      .def_property_readonly("length", [](const Stream& s) { return s.Get().SpaceLength(); },
                             "Bytes of the stream's space.")
      .def("__iter__", [](const Stream& s) { return Iterate(s, s.Owner()); })
      .def("write", &Write, py::arg("kind"), py::arg("id"), py::arg("value"), "Append one record.")
      .def("flush", [](const Stream& s) { return s.Get().Flush(); }, "Write back; answers the flush count.")
      .def("snap", [](const Stream& s) { return s.Get().Snap(); },
           "For a reader after Database.snap(): answers the new flush count once, else 0.")
      .def("close", &Stream::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Stream& s, py::args) { s.Close(); })
      .def("__repr__", &Repr);
}
