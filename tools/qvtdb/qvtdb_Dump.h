// The row selection of qvtdb dump: which rows, records or hex lines to show.
#ifndef QVT_TOOLS_QVTDB_QVTDB_DUMP_H
#define QVT_TOOLS_QVTDB_QVTDB_DUMP_H

#include <cstdint>
#include <limits>
#include <string>

// Rows first to last, both included, counted from 0.
struct qvtdb_RowRange {
  std::int64_t first = 0;
  std::int64_t last = std::numeric_limits<std::int64_t>::max();
};

// "FIRST:LAST", "FIRST:", ":LAST", "ROW" or "" (every row).
// THROWS qvtdb_UsageError for anything else or a range that ends first.
qvtdb_RowRange qvtdb_ParseRowRange(const std::string& text);

#endif  // QVT_TOOLS_QVTDB_QVTDB_DUMP_H
