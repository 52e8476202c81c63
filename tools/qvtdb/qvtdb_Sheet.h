// Rows of cells written in one of the dump formats: aligned text with a
// header line, CSV with a header line, or one JSON document whose rows are
// streamed one per line (so a large object never sits in memory whole).
#ifndef QVT_TOOLS_QVTDB_QVTDB_SHEET_H
#define QVT_TOOLS_QVTDB_QVTDB_SHEET_H

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using qvtdb_Json = nlohmann::ordered_json;

struct qvtdb_Column {
  std::string name;
  int width;  // text format: the least width of the column
};

class qvtdb_Sheet {
 public:
  // format: "text", "csv" or "json". head: the JSON members written before
  // the rows, which go in the member rowsKey.
  qvtdb_Sheet(std::ostream& out, const std::string& format, std::vector<qvtdb_Column> columns,
              const qvtdb_Json& head, const std::string& rowsKey);
  qvtdb_Sheet(const qvtdb_Sheet&) = delete;
  qvtdb_Sheet& operator=(const qvtdb_Sheet&) = delete;

  // One row: cells for text and CSV (an absent cell is written empty), and
  // the row as JSON.
  void Row(const std::vector<std::optional<std::string>>& cells, const qvtdb_Json& json);
  void End();

 private:
  std::ostream& m_Out;
  std::string m_Format;
  std::vector<qvtdb_Column> m_Columns;
  bool m_FirstRow = true;
};

// A pooled string as text for a terminal: control bytes and backslashes
// escaped as \xNN and \\, everything else as it is.
std::string qvtdb_EscapeText(const std::string& text);
// A CSV field: quoted when it holds a comma, a quote, a line break or
// surrounding blanks, with quotes doubled.
std::string qvtdb_CsvField(const std::string& text);
// JSON text of a value, invalid UTF-8 replaced rather than refused.
std::string qvtdb_JsonText(const qvtdb_Json& value);

#endif  // QVT_TOOLS_QVTDB_QVTDB_SHEET_H
