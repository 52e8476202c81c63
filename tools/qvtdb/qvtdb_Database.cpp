// Opening databases for inspection, type names and value formats.
#include "qvtdb_Database.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

qvtdb_OpenDatabase::qvtdb_OpenDatabase(const std::string& path)
    : file(qvt_File::Open(path, 0, true)), database(qvt_Database::Open(file, "")) {
  database.Bind();
}

std::string qvtdb_TypeName(int type) {
  switch (type) {
    case qvt_TypeNone: return "none";
    case qvt_TypeInt: return "int";
    case qvt_TypeHandle: return "handle";
    case qvt_TypeFloat: return "float";
    case qvt_TypeDouble: return "double";
    case qvt_TypeString: return "string";
    case qvt_TypeFixedString: return "fixed string";
    case qvt_TypeTable: return "table";
    case qvt_TypeTaggedStream: return "tagged stream";
    case qvt_TypeOther: return "other";
    default: return "type " + std::to_string(type);
  }
}

std::string qvtdb_ObjectKind(int handleType) {
  switch (handleType) {
    case qvt_TypeInt:
    case qvt_TypeFloat:
    case qvt_TypeDouble:
    case qvt_TypeString:
      return qvtdb_TypeName(handleType) + " array";
    case qvt_TypeTable:
    case qvt_TypeTaggedStream:
    case qvt_TypeOther:
      return qvtdb_TypeName(handleType);
    default:
      return "array of " + qvtdb_TypeName(handleType);
  }
}

std::string qvtdb_FixedSpaceRole(qvt_Handle handle) {
  switch (handle) {
    case 1: return "string pool";
    case 2: return "reserved";
    case 3: return "metadata pool";
    default: return "";
  }
}

// The shortest %g form that reads back to the same value.
std::string qvtdb_FormatFloat(float value) {
  char text[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return text;
}

std::string qvtdb_FormatDouble(double value) {
  char text[40];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

std::int64_t qvtdb_StatisticValue(const std::string& line) {
  const std::size_t equals = line.rfind('=');
  if (equals == std::string::npos) return -1;
  std::int64_t value = 0;
  bool digits = false;
  for (std::size_t i = equals + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ') continue;
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    digits = true;
  }
  return digits ? value : -1;
}

std::string qvtdb_FormatTime(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  char text[64];
  const std::tm* parts = std::gmtime(&t);  // the tool has one thread
  if (parts != nullptr && std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", parts) > 0) {
    return std::to_string(seconds) + " (" + text + ")";
  }
  return std::to_string(seconds);
}
