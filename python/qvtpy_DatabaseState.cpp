// The shared state of a database in Python and the base of the objects
// opened from it: the order in which they let go of the library.
#include "qvtpy_Database.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "nex_Exception.h"
#include "qvtpy_Errors.h"

qvtpy_DatabaseState::qvtpy_DatabaseState(const qvt_File& file, const qvt_Database& database)
    : m_Path(file.FileName()), m_File(file), m_Database(database) {}

qvtpy_DatabaseState::~qvtpy_DatabaseState() {
  // Every object holds this state, so none is left here; what can still
  // fail is the writer's last flush.
  try {
    Close();
  } catch (const std::exception& e) {
    std::cerr << "qvt: closing " << m_Path << ": " << e.what() << std::endl;
  }
}

qvt_Database& qvtpy_DatabaseState::Database() {
  if (!m_Database) throw qvtpy_ClosedError("the database " + m_Path + " is closed");
  return *m_Database;
}

qvt_File& qvtpy_DatabaseState::File() {
  if (!m_File) throw qvtpy_ClosedError("the database " + m_Path + " is closed");
  return *m_File;
}

void qvtpy_DatabaseState::Close() {
  if (!m_Database) return;
  std::exception_ptr first;
  if (!m_Database->ReadOnly()) {
    for (qvtpy_Object* object : m_Objects) {
      try {
        object->FlushObject();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
    try {
      m_Database->Flush();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  for (qvtpy_Object* object : m_Objects) object->Release();
  m_Database.reset();
  m_File.reset();
  if (first) std::rethrow_exception(first);
}

void qvtpy_DatabaseState::Flush() {
  qvt_Database& db = Database();
  for (qvtpy_Object* object : m_Objects) object->FlushObject();
  db.Flush();
}

bool qvtpy_DatabaseState::Snap() {
  qvt_Database& db = Database();
  if (db.Snap() == 0) return false;
  ObjectsChanged();
  db.Bind();
  for (qvtpy_Object* object : m_Objects) object->SnapObject();
  return true;
}

bool qvtpy_DatabaseState::IsObject(qvt_Handle handle) {
  if (m_Heads.empty()) m_Heads = Database().ObjectHandles();
  return std::binary_search(m_Heads.begin(), m_Heads.end(), handle);
}

void qvtpy_DatabaseState::Detach(qvtpy_Object* object) {
  m_Objects.erase(std::remove(m_Objects.begin(), m_Objects.end(), object), m_Objects.end());
}

qvtpy_Object::qvtpy_Object(std::shared_ptr<qvtpy_DatabaseState> state, qvt_Handle handle)
    : m_State(std::move(state)), m_Handle(handle) {
  m_State->Attach(this);
}

qvtpy_Object::~qvtpy_Object() { m_State->Detach(this); }

void qvtpy_Object::Close() {
  if (!Holds()) return;
  if (!m_State->Closed() && !m_State->Database().ReadOnly()) FlushObject();
  Release();
}

void qvtpy_Object::CheckOpen() const {
  if (m_State->Closed()) throw qvtpy_ClosedError("the database " + m_State->Path() + " is closed");
  if (!Holds()) throw qvtpy_ClosedError("object " + std::to_string(m_Handle) + " is closed");
}

std::string qvtpy_Object::ClosedRepr(const char* className) const {
  return std::string("<qvt.") + className + " handle " + std::to_string(m_Handle) + " (closed)>";
}
