// Text, CSV and JSON output of dumped rows.
#include "qvtdb_Sheet.h"

#include <cstdio>

qvtdb_Sheet::qvtdb_Sheet(std::ostream& out, const std::string& format, std::vector<qvtdb_Column> columns,
                         const qvtdb_Json& head, const std::string& rowsKey)
    : m_Out(out), m_Format(format), m_Columns(std::move(columns)) {
  if (m_Format == "json") {
    const std::string text = qvtdb_JsonText(head);  // an object: "{...}"
    m_Out << text.substr(0, text.size() - 1) << (head.empty() ? "" : ",") << qvtdb_JsonText(rowsKey) << ":[";
    return;
  }
  std::vector<std::optional<std::string>> names;
  for (const qvtdb_Column& column : m_Columns) names.emplace_back(column.name);
  Row(names, qvtdb_Json());
  m_FirstRow = true;
}

void qvtdb_Sheet::Row(const std::vector<std::optional<std::string>>& cells, const qvtdb_Json& json) {
  if (m_Format == "json") {
    m_Out << (m_FirstRow ? "\n" : ",\n") << qvtdb_JsonText(json);
  } else if (m_Format == "csv") {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) m_Out << ',';
      if (cells[i]) m_Out << qvtdb_CsvField(*cells[i]);
    }
    m_Out << '\n';
  } else {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const std::string text = cells[i] ? qvtdb_EscapeText(*cells[i]) : std::string();
      line += text;
      if (i + 1 < cells.size()) {
        const std::size_t width = i < m_Columns.size() ? static_cast<std::size_t>(m_Columns[i].width) : 0;
        line.append(text.size() < width ? width - text.size() : 0, ' ');
        line += "  ";
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    m_Out << line << '\n';
  }
  m_FirstRow = false;
}

void qvtdb_Sheet::End() {
  if (m_Format == "json") m_Out << (m_FirstRow ? "]}\n" : "\n]}\n");
  m_Out.flush();
}

std::string qvtdb_EscapeText(const std::string& text) {
  std::string result;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      result += escaped;
    } else if (c == '\\') {
      result += "\\\\";
    } else {
      result += c;
    }
  }
  return result;
}

std::string qvtdb_CsvField(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string result = "\"";
  for (const char c : text) {
    if (c == '"') result += '"';
    result += c;
  }
  return result + "\"";
}

std::string qvtdb_JsonText(const qvtdb_Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
