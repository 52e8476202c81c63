// The info report, also printed by the demo at its end.
#ifndef QVT_TOOLS_QVTDB_QVTDB_INFO_H
#define QVT_TOOLS_QVTDB_QVTDB_INFO_H

#include <ostream>
#include <string>

// Writes the report on out; answers the exit status of qvtdb info.
int qvtdb_PrintInfo(const std::string& file, std::ostream& out);

#endif  // QVT_TOOLS_QVTDB_QVTDB_INFO_H
