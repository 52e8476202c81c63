// The database of the Python layer and the base of every object opened
// from it. The library's objects keep a plain pointer to their database and
// must go before it; Python frees objects in no fixed order. So each object
// holds a shared reference to its database's state, which keeps the
// database open while any object lives, and the state lists its live
// objects so that an explicit close releases them first. An object used
// after its database closed raises ClosedError, never touches freed memory.
#ifndef QVT_PYTHON_QVTPY_DATABASE_H
#define QVT_PYTHON_QVTPY_DATABASE_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "qvt_Database.h"
#include "qvt_File.h"

class qvtpy_Object;

class qvtpy_DatabaseState {
 public:
  qvtpy_DatabaseState(const qvt_File& file, const qvt_Database& database);
  // Closes the database when close() was never called; reports and
  // swallows what fails (a destructor never throws).
  ~qvtpy_DatabaseState();
  qvtpy_DatabaseState(const qvtpy_DatabaseState&) = delete;
  qvtpy_DatabaseState& operator=(const qvtpy_DatabaseState&) = delete;

  // THROWS qvtpy_ClosedError once the database is closed.
  qvt_Database& Database();
  qvt_File& File();
  bool Closed() const { return !m_Database.has_value(); }
  const std::string& Path() const { return m_Path; }

  // A writer flushes every live object, then the database; then every
  // object lets go of its library handle and the database closes. Every
  // step runs even when one fails; the first failure is thrown after.
  // Closing twice does nothing.
  void Close();
  // Flushes every live object, then the database.
  void Flush();
  // The reader's refresh: Snap of the database and, when it brought
  // something, of every live object; newly stored table classes are bound.
  bool Snap();

  // True when handle names an object: the head of a space, not one of the
  // extents that continue a space, which the library would open as a
  // space of its own.
  bool IsObject(qvt_Handle handle);
  // A new object was made: the list of objects is read again when asked.
  void ObjectsChanged() { m_Heads.clear(); }

  void Attach(qvtpy_Object* object) { m_Objects.push_back(object); }
  void Detach(qvtpy_Object* object);

 private:
  std::string m_Path;
  std::optional<qvt_File> m_File;
  std::optional<qvt_Database> m_Database;
  std::vector<qvtpy_Object*> m_Objects;
  std::vector<qvt_Handle> m_Heads;  // ascending; empty until asked for
};

// The base of tables, arrays, tagged streams and spaces in Python.
class qvtpy_Object {
 public:
  qvtpy_Object(std::shared_ptr<qvtpy_DatabaseState> state, qvt_Handle handle);
  virtual ~qvtpy_Object();
  qvtpy_Object(const qvtpy_Object&) = delete;
  qvtpy_Object& operator=(const qvtpy_Object&) = delete;

  qvt_Handle Handle() const { return m_Handle; }
  // The database this object keeps open.
  const std::shared_ptr<qvtpy_DatabaseState>& Owner() const { return m_State; }
  // Lets go of the library handle (a writer's object flushes as it goes).
  void Close();
  bool Closed() const { return !Holds(); }

  // For the database state.
  virtual void FlushObject() {}
  virtual void SnapObject() {}
  virtual void Release() noexcept = 0;

 protected:
  virtual bool Holds() const = 0;
  // THROWS qvtpy_ClosedError when this object or its database is closed.
  void CheckOpen() const;
  // The Python class name and handle, with " (closed)" once closed.
  std::string ClosedRepr(const char* className) const;

 private:
  std::shared_ptr<qvtpy_DatabaseState> m_State;
  qvt_Handle m_Handle;
};

// Each registers its classes in the module.
void qvtpy_RegisterDatabase(pybind11::module_& m);
void qvtpy_RegisterTable(pybind11::module_& m);
void qvtpy_RegisterTableClass(pybind11::module_& m);
void qvtpy_RegisterArray(pybind11::module_& m);
void qvtpy_RegisterStream(pybind11::module_& m);
void qvtpy_RegisterSpace(pybind11::module_& m);

// Opening objects of a database by handle, for db[handle].
pybind11::object qvtpy_OpenTable(const std::shared_ptr<qvtpy_DatabaseState>& state, qvt_Handle handle);
pybind11::object qvtpy_OpenArray(const std::shared_ptr<qvtpy_DatabaseState>& state, qvt_Handle handle,
                                 qvt_Type type);
pybind11::object qvtpy_OpenStream(const std::shared_ptr<qvtpy_DatabaseState>& state, qvt_Handle handle);
pybind11::object qvtpy_OpenSpace(const std::shared_ptr<qvtpy_DatabaseState>& state, qvt_Handle handle);
// New objects of a writer.
pybind11::object qvtpy_NewTable(const std::shared_ptr<qvtpy_DatabaseState>& state, const std::string& className);
pybind11::object qvtpy_NewArray(const std::shared_ptr<qvtpy_DatabaseState>& state, qvt_Type type, int fields);
pybind11::object qvtpy_NewStream(const std::shared_ptr<qvtpy_DatabaseState>& state);

#endif  // QVT_PYTHON_QVTPY_DATABASE_H
