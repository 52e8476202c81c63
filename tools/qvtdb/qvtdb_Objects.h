// One line's worth about an object of a database, as ls and info show it.
#ifndef QVT_TOOLS_QVTDB_QVTDB_OBJECTS_H
#define QVT_TOOLS_QVTDB_QVTDB_OBJECTS_H

#include <cstdint>
#include <string>

#include "qvtdb_Database.h"

struct qvtdb_ObjectSummary {
  int handleType = qvt_TypeOther;  // what HandleType answers
  std::string kind;                // qvtdb_ObjectKind of it
  std::int64_t length = 0;         // bytes of the space
  std::int64_t extents = 0;        // extents of its chain
  std::string details;             // class and rows of a table, shape of an array, role of a fixed space
};

// THROWS what the library throws when the object cannot be read.
qvtdb_ObjectSummary qvtdb_Summarize(qvtdb_OpenDatabase& db, qvt_Handle handle);

#endif  // QVT_TOOLS_QVTDB_QVTDB_OBJECTS_H
