// The SQLite side of the comparison: rows of a table and small objects as
// rows of a blob table, written with one prepared statement inside one
// transaction in WAL mode. synchronous=OFF, because no other system here
// asks the disk to sync either.
#include "compare_systems.h"
#include <sqlite3.h>

namespace compare {
namespace {

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &m_Db) != SQLITE_OK) Fail("SQLite: cannot open " + path + ": " + Error());
  }
  ~Db() { sqlite3_close(m_Db); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const char* sql) {
    if (sqlite3_exec(m_Db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      Fail(std::string("SQLite: ") + sql + ": " + Error());
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_Db, sql, -1, &statement, nullptr) != SQLITE_OK)
      Fail(std::string("SQLite: ") + sql + ": " + Error());
    return statement;
  }
  // Runs an insert that was bound, then resets it.
  void Insert(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) Fail("SQLite: insert: " + Error());
    sqlite3_reset(statement);
  }
  void Close() {
    if (sqlite3_close(m_Db) != SQLITE_OK) Fail("SQLite: close: " + Error());
    m_Db = nullptr;
  }
  std::string Error() const { return m_Db ? sqlite3_errmsg(m_Db) : "out of memory"; }

 private:
  sqlite3* m_Db = nullptr;
};

void Begin(Db& db, const char* create) {
  db.Exec("PRAGMA journal_mode=WAL");
  db.Exec("PRAGMA synchronous=OFF");
  db.Exec(create);
  db.Exec("BEGIN");
}

void Finish(Db& db, sqlite3_stmt* statement) {
  if (sqlite3_finalize(statement) != SQLITE_OK) Fail("SQLite: finalize: " + db.Error());
}

}  // namespace

Measure SqliteWriteRows(const std::string& path, int rows) {
  const Stopwatch watch;
  Db db(path);
  Begin(db, "CREATE TABLE rows(id INTEGER, value REAL, weight REAL, label TEXT)");
  sqlite3_stmt* insert = db.Prepare("INSERT INTO rows VALUES(?, ?, ?, ?)");
  for (int r = 0; r < rows; ++r) {
    const std::string& label = Word(RowWord(r));
    sqlite3_bind_int(insert, 1, RowId(r));
    sqlite3_bind_double(insert, 2, RowValue(r));
    sqlite3_bind_double(insert, 3, RowWeight(r));
    sqlite3_bind_text(insert, 4, label.data(), static_cast<int>(label.size()), SQLITE_STATIC);
    db.Insert(insert);
  }
  Finish(db, insert);
  db.Exec("COMMIT");
  db.Close();
  return watch.Done();
}

Measure SqliteScanRows(const std::string& path) {
  Checksum sum;
  const Stopwatch watch;
  Db db(path);
  sqlite3_stmt* select = db.Prepare("SELECT id, value, weight, label FROM rows ORDER BY rowid");
  int rc;
  while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
    const char* label = reinterpret_cast<const char*>(sqlite3_column_text(select, 3));
    const int length = sqlite3_column_bytes(select, 3);
    sum.AddRow(sqlite3_column_int(select, 0), sqlite3_column_double(select, 1),
               static_cast<float>(sqlite3_column_double(select, 2)), label, static_cast<std::size_t>(length));
  }
  if (rc != SQLITE_DONE) Fail("SQLite: scan: " + db.Error());
  Finish(db, select);
  db.Close();
  return watch.Done(sum.Value());
}

Measure SqliteCreateObjects(const std::string& path, int count, int valuesPer) {
  std::vector<double> values(static_cast<std::size_t>(valuesPer));
  const int bytes = valuesPer * static_cast<int>(sizeof(double));
  const Stopwatch watch;
  Db db(path);
  Begin(db, "CREATE TABLE objects(id INTEGER PRIMARY KEY, data BLOB)");
  sqlite3_stmt* insert = db.Prepare("INSERT INTO objects VALUES(?, ?)");
  for (int k = 0; k < count; ++k) {
    for (int j = 0; j < valuesPer; ++j) values[static_cast<std::size_t>(j)] = ObjectValue(k, j);
    sqlite3_bind_int(insert, 1, k);
    sqlite3_bind_blob(insert, 2, values.data(), bytes, SQLITE_STATIC);
    db.Insert(insert);
  }
  Finish(db, insert);
  db.Exec("COMMIT");
  db.Close();
  return watch.Done();
}

Measure SqliteReadObjects(const std::string& path, int first, int stride, int count, int valuesPer) {
  std::vector<double> values(static_cast<std::size_t>(valuesPer));
  const std::size_t bytes = values.size() * sizeof(double);
  Checksum sum;
  const Stopwatch watch;
  Db db(path);
  auto take = [&](sqlite3_stmt* statement, int column) {
    if (static_cast<std::size_t>(sqlite3_column_bytes(statement, column)) != bytes)
      Fail("SQLite: an object has the wrong size");
    std::memcpy(values.data(), sqlite3_column_blob(statement, column), bytes);
    sum.AddDoubles(values.data(), values.size());
  };
  if (stride == 1) {
    // Every object in a range: one scan in key order.
    sqlite3_stmt* select = db.Prepare("SELECT data FROM objects WHERE id >= ? AND id < ? ORDER BY id");
    sqlite3_bind_int(select, 1, first);
    sqlite3_bind_int(select, 2, first + count);
    int seen = 0;
    for (; sqlite3_step(select) == SQLITE_ROW; ++seen) take(select, 0);
    if (seen != count) Fail("SQLite: objects missing");
    Finish(db, select);
  } else {
    sqlite3_stmt* select = db.Prepare("SELECT data FROM objects WHERE id = ?");
    for (int n = 0, k = first; n < count; ++n, k += stride) {
      sqlite3_bind_int(select, 1, k);
      if (sqlite3_step(select) != SQLITE_ROW) Fail("SQLite: object missing");
      take(select, 0);
      sqlite3_reset(select);
    }
    Finish(db, select);
  }
  db.Close();
  return watch.Done(sum.Value());
}

}  // namespace compare
