// The library pass of qvtdb check: the database opened as any reader opens
// it, every stored class bound, and every object whose raw structure holds
// opened by its type and read to its end. Each failure is the library's
// own message, kept as a problem of that object.
#include <memory>
#include <string>

#include "nex_Exception.h"
#include "qvtdb_Check.h"
#include "qvtdb_Database.h"
#include "qvtdb_ReadObject.h"

void qvtdb_Checker::ReadThroughLibrary() {
  std::unique_ptr<qvtdb_OpenDatabase> db;
  try {
    db = std::make_unique<qvtdb_OpenDatabase>(m_Path);
  } catch (const nex_Exception& e) {
    Problem("the library cannot open the database: " + e.AsString());
    return;
  }
  for (const qvt_Handle handle : m_SoundObjects) {
    try {
      qvtdb_ReadObject(db->database, handle);
    } catch (const nex_Exception& e) {
      Problem("object " + std::to_string(handle) + " cannot be read to its end: " + e.AsString());
    }
  }
}
