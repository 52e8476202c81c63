// qvtdb locate: which object holds the byte at a file offset, as the
// database's object location report tells it (for example for an offset
// named in an I/O error).
#include <iostream>
#include <limits>

#include "qvtdb_Database.h"
#include "qvtdb_Tool.h"

int qvtdb_Locate(const std::string& file, const std::string& offset) {
  const std::int64_t where = qvtdb_ParseNumber(offset, "offset", std::numeric_limits<std::int64_t>::max());
  qvtdb_OpenDatabase db(file);
  std::cout << db.database.GetObjectLocationReport(where) << std::endl;
  return qvtdb_ExitOk;
}
