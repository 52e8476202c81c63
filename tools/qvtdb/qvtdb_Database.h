// Opening a database for inspection and naming what is inside: the one
// place where the subcommands open files, name types and format values.
#ifndef QVT_TOOLS_QVTDB_QVTDB_DATABASE_H
#define QVT_TOOLS_QVTDB_QVTDB_DATABASE_H

#include <cstdint>
#include <string>
#include <vector>

#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_Handle.h"

// A database opened read-only with every stored table class bound, so that
// any table can be opened by its handle. Objects opened from it must be
// destroyed before it.
struct qvtdb_OpenDatabase {
  explicit qvtdb_OpenDatabase(const std::string& path);
  qvt_File file;
  qvt_Database database;
};

// "int", "handle", "float", "double", "string", "fixed string", "table",
// "tagged stream", "other", or "type N" for a code that is none of them.
std::string qvtdb_TypeName(int type);
// What HandleType answers, as a word: "table", "tagged stream", "int array",
// "float array", "double array", "string array" or "other".
std::string qvtdb_ObjectKind(int handleType);
// The role of the fixed spaces: "string pool", "reserved", "metadata pool";
// empty for every other handle.
std::string qvtdb_FixedSpaceRole(qvt_Handle handle);

// Values as text that reads back to the same value.
std::string qvtdb_FormatFloat(float value);
std::string qvtdb_FormatDouble(double value);

// The number in a statistics line "Name=value" (blanks allowed), or -1.
std::int64_t qvtdb_StatisticValue(const std::string& line);

// A creation time in seconds as "1700000000 (2023-11-14 22:13:20 UTC)".
std::string qvtdb_FormatTime(std::int64_t seconds);

#endif  // QVT_TOOLS_QVTDB_QVTDB_DATABASE_H
