// qvtdb dump: one object in text, CSV or JSON. A table row by row under a
// header of its field names (absent fields empty, or null in JSON); an
// array row by row; a tagged stream record by record; any other space as a
// hex dump of 16-byte lines.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "qvtdb_Database.h"
#include "qvtdb_Dump.h"
#include "qvtdb_Sheet.h"
#include "qvtdb_Tool.h"

namespace {

constexpr int kHexLine = 16;

qvtdb_Json JsonFloat(float value) { return std::strtod(qvtdb_FormatFloat(value).c_str(), nullptr); }

int TypeWidth(qvt_Type type) {
  switch (type) {
    case qvt_TypeInt: return 11;
    case qvt_TypeHandle: return 10;
    case qvt_TypeFloat: return 15;
    case qvt_TypeDouble: return 24;
    default: return 12;
  }
}

qvtdb_Json Head(qvt_Handle handle, const std::string& kind) {
  qvtdb_Json head;
  head["handle"] = handle;
  head["kind"] = kind;
  return head;
}

void DumpTable(qvtdb_OpenDatabase& db, qvt_Handle handle, const qvtdb_DumpOptions& options,
               const qvtdb_RowRange& range) {
  qvt_Table table = db.database.Table(handle, -1, -1);
  const qvt_TableMetadata& metadata = table.TableMetadata();
  std::vector<const qvt_FieldMetadata*> fields;
  for (const auto& entry : metadata.FieldMap()) {
    if (entry.second.Present()) fields.push_back(&entry.second);
  }
  const std::int64_t rows = table.Length();
  std::vector<qvtdb_Column> columns{{"row", 5}};
  qvtdb_Json head = Head(handle, "table");
  head["class"] = metadata.Name();
  head["fields"] = qvtdb_Json::array();
  for (const qvt_FieldMetadata* field : fields) {
    columns.push_back({field->Name(), std::max(TypeWidth(field->Type()), static_cast<int>(field->Name().size()))});
    head["fields"].push_back({{"name", field->Name()}, {"type", qvtdb_TypeName(field->Type())}});
  }
  head["length"] = rows;
  qvtdb_Sheet sheet(std::cout, options.format, columns, head, "rows");
  const std::int64_t last = std::min(range.last, rows - 1);
  for (std::int64_t r = range.first; r <= last; ++r) {
    qvt_Row row = table.ReadRow(static_cast<int>(r));
    std::vector<std::optional<std::string>> cells{std::to_string(r)};
    qvtdb_Json values = qvtdb_Json::object();
    for (const qvt_FieldMetadata* field : fields) {
      const qvt_FieldHandle fh(field->Index());
      if (!row.DataIsPresent(fh)) {
        cells.emplace_back();
        values[field->Name()] = nullptr;
        continue;
      }
      switch (field->Type()) {
        case qvt_TypeInt: {
          const int v = row.ReadFieldInt(fh);
          cells.emplace_back(std::to_string(v));
          values[field->Name()] = v;
          break;
        }
        case qvt_TypeHandle: {
          const qvt_Handle v = row.ReadFieldHandle(fh);
          cells.emplace_back(std::to_string(v));
          values[field->Name()] = v;
          break;
        }
        case qvt_TypeFloat: {
          const float v = row.ReadFieldFloat(fh);
          cells.emplace_back(qvtdb_FormatFloat(v));
          values[field->Name()] = JsonFloat(v);
          break;
        }
        case qvt_TypeDouble: {
          const double v = row.ReadFieldDouble(fh);
          cells.emplace_back(qvtdb_FormatDouble(v));
          values[field->Name()] = v;
          break;
        }
        default: {
          const std::string v = row.ReadFieldString(fh);
          cells.emplace_back(v);
          values[field->Name()] = v;
          break;
        }
      }
    }
    sheet.Row(cells, {{"row", r}, {"values", values}});
  }
  sheet.End();
}

// A value as a text cell and as JSON, by the array's element type.
std::string Cell(int v) { return std::to_string(v); }
std::string Cell(float v) { return qvtdb_FormatFloat(v); }
std::string Cell(double v) { return qvtdb_FormatDouble(v); }
std::string Cell(const std::string& v) { return v; }
qvtdb_Json Json(int v) { return v; }
qvtdb_Json Json(float v) { return JsonFloat(v); }
qvtdb_Json Json(double v) { return v; }
qvtdb_Json Json(const std::string& v) { return v; }

template <class T, int N>
void DumpArray(qvt_Array<T, N> array, const qvtdb_DumpOptions& options, const qvtdb_RowRange& range) {
  constexpr int kBatchRows = 256;
  const int perRow = array.FieldCount();
  const std::int64_t rows = array.Length();
  qvtdb_Json head = Head(array.Handle(), qvtdb_ObjectKind(N));
  head["values_per_row"] = perRow;
  head["length"] = rows;
  std::vector<qvtdb_Column> columns{{"row", 5}};
  for (int i = 0; i < perRow; ++i) columns.push_back({"v" + std::to_string(i), TypeWidth(static_cast<qvt_Type>(N))});
  qvtdb_Sheet sheet(std::cout, options.format, columns, head, "rows");
  const std::int64_t last = std::min(range.last, rows - 1);
  if (range.first <= last) array.Seek(static_cast<int>(range.first));
  std::vector<T> values(static_cast<std::size_t>(perRow) * kBatchRows);
  for (std::int64_t r = range.first; r <= last;) {
    const int batch = static_cast<int>(std::min<std::int64_t>(kBatchRows, last - r + 1));
    const int got = array.Read(values.data(), batch);
    for (int i = 0; i < batch && i * perRow < got; ++i, ++r) {
      std::vector<std::optional<std::string>> cells{std::to_string(r)};
      qvtdb_Json json = qvtdb_Json::array();
      for (int k = 0; k < perRow; ++k) {
        // A row cut off by the end of the array shows what there is.
        if (i * perRow + k >= got) {
          cells.emplace_back();
          json.push_back(nullptr);
          continue;
        }
        const T& v = values[static_cast<std::size_t>(i * perRow + k)];
        cells.emplace_back(Cell(v));
        json.push_back(Json(v));
      }
      sheet.Row(cells, {{"row", r}, {"values", json}});
    }
    if (got < batch * perRow) break;
  }
  sheet.End();
}

void DumpTaggedStream(qvtdb_OpenDatabase& db, qvt_Handle handle, const qvtdb_DumpOptions& options,
                      const qvtdb_RowRange& range) {
  qvt_TaggedStream stream = db.database.TaggedStream(handle, 0);
  qvtdb_Json head = Head(handle, "tagged stream");
  head["length"] = stream.SpaceLength();
  qvtdb_Sheet sheet(std::cout, options.format, {{"record", 6}, {"type", 12}, {"id", 11}, {"value", 12}}, head,
                    "records");
  for (std::int64_t record = 0; record <= range.last && stream.Next(); ++record) {
    if (record < range.first) continue;
    const qvt_Type type = stream.GetType();
    qvtdb_Json json{{"record", record}, {"type", qvtdb_TypeName(type)}, {"id", stream.GetID()}};
    std::string text;
    switch (type) {
      case qvt_TypeInt:
        text = std::to_string(stream.GetInt());
        json["value"] = stream.GetInt();
        break;
      case qvt_TypeHandle:
        text = std::to_string(stream.GetHandle());
        json["value"] = stream.GetHandle();
        break;
      case qvt_TypeFloat:
        text = qvtdb_FormatFloat(stream.GetFloat());
        json["value"] = JsonFloat(stream.GetFloat());
        break;
      case qvt_TypeDouble:
        text = qvtdb_FormatDouble(stream.GetDouble());
        json["value"] = stream.GetDouble();
        break;
      default:
        text = stream.GetString();
        json["value"] = text;
        break;
    }
    sheet.Row({std::to_string(record), qvtdb_TypeName(type), std::to_string(stream.GetID()), text}, json);
  }
  sheet.End();
}

void DumpSpace(qvtdb_OpenDatabase& db, qvt_Handle handle, const qvtdb_DumpOptions& options,
               const qvtdb_RowRange& range) {
  qvt_Space space = db.database.Space(handle, -1);
  const std::int64_t length = space.Length();
  const std::int64_t lines = (length + kHexLine - 1) / kHexLine;
  qvtdb_Json head = Head(handle, "space");
  head["length"] = length;
  qvtdb_Sheet sheet(std::cout, options.format, {{"offset", 8}, {"hex", 47}, {"text", 16}}, head, "lines");
  const std::int64_t last = std::min(range.last, lines - 1);
  if (range.first <= last) space.Seek(range.first * kHexLine);
  for (std::int64_t line = range.first; line <= last; ++line) {
    unsigned char bytes[kHexLine];
    const int n = space.Read(reinterpret_cast<char*>(bytes), kHexLine);
    if (n <= 0) break;
    std::string hex;
    std::string text;
    std::string packed;
    for (int i = 0; i < n; ++i) {
      char pair[4];
      std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
      if (i > 0) hex += ' ';
      hex += pair;
      packed += pair;
      text += bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
    }
    char offset[24];
    std::snprintf(offset, sizeof offset, "%08llx", static_cast<unsigned long long>(line * kHexLine));
    sheet.Row({std::string(offset), hex, text}, {{"offset", line * kHexLine}, {"hex", packed}});
  }
  sheet.End();
}

}  // namespace

qvtdb_RowRange qvtdb_ParseRowRange(const std::string& text) {
  qvtdb_RowRange range;
  if (text.empty()) return range;
  const std::int64_t most = std::numeric_limits<std::int32_t>::max();
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) {
    range.first = range.last = qvtdb_ParseNumber(text, "row", most);
    return range;
  }
  const std::string first = text.substr(0, colon);
  const std::string last = text.substr(colon + 1);
  if (!first.empty()) range.first = qvtdb_ParseNumber(first, "first row", most);
  if (!last.empty()) range.last = qvtdb_ParseNumber(last, "last row", most);
  if (range.first > range.last) {
    throw qvtdb_UsageError("row range " + text + " ends before it starts");
  }
  return range;
}

int qvtdb_Dump(const qvtdb_DumpOptions& options) {
  const qvt_Handle handle =
      static_cast<qvt_Handle>(qvtdb_ParseNumber(options.handle, "handle", std::numeric_limits<std::uint32_t>::max()));
  const qvtdb_RowRange range = qvtdb_ParseRowRange(options.rows);
  qvtdb_OpenDatabase db(options.file);
  const qvt_Type type = db.database.HandleType(handle);
  switch (type) {
    case qvt_TypeTable:
      DumpTable(db, handle, options, range);
      break;
    case qvt_TypeTaggedStream:
      DumpTaggedStream(db, handle, options, range);
      break;
    case qvt_TypeInt:
      DumpArray(db.database.ArrayInt(handle, -1, 0), options, range);
      break;
    case qvt_TypeFloat:
      DumpArray(db.database.ArrayFloat(handle, -1, 0), options, range);
      break;
    case qvt_TypeDouble:
      DumpArray(db.database.ArrayDouble(handle, -1, 0), options, range);
      break;
    case qvt_TypeString:
      DumpArray(db.database.ArrayString(handle, -1, 0), options, range);
      break;
    default:
      DumpSpace(db, handle, options, range);
      break;
  }
  return qvtdb_ExitOk;
}
