// One writer process and eight reader processes on one growing database,
// plain and compressed, for QVT_READERS_SECONDS (3 unless set): no reader's
// counts ever shrink, every value read is the one written at its position,
// and every reader ends with everything the writer flushed. Plain readers
// refresh with FileStatus and Snap; compressed readers reopen the file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_DBStatusCheckerFile.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "nex_Exception.h"

namespace {

using qvt_test::FileKind;
using Clock = std::chrono::steady_clock;

constexpr qvt_Handle kTable = 4;
constexpr qvt_Handle kArray = 5;
constexpr int kReaders = 8;

// The values at each position, so that any reader can check any of them.
int RowInt(int row) { return row * 7 + 1; }
double RowDouble(int row) { return row * 0.5; }
std::string RowString(int row) { return "r" + std::to_string(row); }
int ArrayValue(int row, int field) { return field == 0 ? row : (row * 31 + 5) % 100003; }

int Seconds() {
  const char* text = std::getenv("QVT_READERS_SECONDS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

// A number in a small file, replaced whole by a rename so readers never see
// half of it; -1 while absent.
void WriteNumber(const std::string& path, long long value) {
  { std::ofstream(path + ".tmp") << value; }
  if (std::rename((path + ".tmp").c_str(), path.c_str()) != 0) throw std::runtime_error("rename " + path);
}
long long ReadNumber(const std::string& path) {
  long long value = -1;
  std::ifstream in(path);
  return in >> value ? value : -1;
}

// Writes batches of 1 to 7 rows and as many array rows, each batch in a
// transaction ended by a flush, until the time is up; answers the row
// count (of both objects) in <path>.final. <path>.seq is odd while a
// transaction is open (a guard for compressed readers, which reopen).
int Writer(FileKind kind, const std::string& path, int seconds) {
  qvt_Database db = qvt_Database::Create(qvt_test::OpenFileOfKind(kind, path, 2), "ODB", "readers", 1);
  qvt_TableMetadata shape("rows", 1);
  shape.DefineIntField("i");
  shape.DefineDoubleField("d");
  shape.DefineStringField("s");
  qvt_Table table = db.Table(shape, 64, -1);
  qvt_Array<int, 1> array = db.ArrayInt(2, 64, 0);
  if (table.Handle() != kTable || array.Handle() != kArray) throw std::runtime_error("unexpected handles");
  db.Flush();
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  long long seq = 0;
  int rows = 0;
  for (int batch = 0; Clock::now() < end; ++batch) {
    WriteNumber(path + ".seq", ++seq);
    {
      qvt_ReaderSemaphoreProxy transaction(db);
      for (int n = 0; n < 1 + batch % 7; ++n, ++rows) {
        qvt_Row row = table.NewRow();
        row.WriteFieldInt("i", RowInt(rows));
        row.WriteFieldDouble("d", RowDouble(rows));
        row.WriteFieldString("s", RowString(rows).c_str());
        const int values[2] = {ArrayValue(rows, 0), ArrayValue(rows, 1)};
        array.Write(values, 1);
      }
      table.Flush();
      array.Flush();
      db.Flush();
    }
    WriteNumber(path + ".seq", ++seq);
    std::this_thread::sleep_for(std::chrono::milliseconds(batch % 5));
  }
  WriteNumber(path + ".final", rows);
  return 0;
}

// What one reader has checked so far.
struct Seen {
  int rows = 0;
  int arrayRows = 0;
};

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// Checks every row past seen and the counts against seen; moves seen on.
void CheckNew(qvt_Table& table, qvt_Array<int, 1>& array, Seen* seen) {
  const int rows = table.Length();
  const int arrayRows = array.Length();
  if (rows < seen->rows || arrayRows < seen->arrayRows) {
    Fail("counts shrank to " + std::to_string(rows) + "/" + std::to_string(arrayRows));
  }
  for (int r = seen->rows; r < rows; ++r) {
    qvt_Row row = table.ReadRow(r);
    if (row.ReadFieldInt("i") != RowInt(r) || row.ReadFieldDouble("d") != RowDouble(r) ||
        std::string(row.ReadFieldString("s").c_str()) != RowString(r)) {
      Fail("row " + std::to_string(r) + " differs");
    }
  }
  if (arrayRows > seen->arrayRows) {
    std::vector<int> values(2 * static_cast<std::size_t>(arrayRows - seen->arrayRows));
    array.Seek(seen->arrayRows);
    if (array.Read(values.data(), arrayRows - seen->arrayRows) != static_cast<int>(values.size())) {
      Fail("array read short");
    }
    for (int r = seen->arrayRows; r < arrayRows; ++r) {
      const std::size_t at = 2 * static_cast<std::size_t>(r - seen->arrayRows);
      if (values[at] != ArrayValue(r, 0) || values[at + 1] != ArrayValue(r, 1)) {
        Fail("array row " + std::to_string(r) + " differs");
      }
    }
  }
  seen->rows = rows;
  seen->arrayRows = arrayRows;
}

// An opened database with its two objects.
struct View {
  explicit View(qvt_Database opened)
      : db(opened), table((db.Bind(), db.Table(kTable, -1, -1))), array(db.ArrayInt(kArray, 0, 0)) {}
  qvt_Database db;
  qvt_Table table;
  qvt_Array<int, 1> array;
};

std::unique_ptr<View> TryOpen(FileKind kind, const std::string& path) {
  try {
    return std::make_unique<View>(qvt_Database::Open(qvt_test::OpenFileOfKind(kind, path, 0), "ODB"));
  } catch (const nex_Exception&) {
    return nullptr;  // not created yet, or (compressed) caught between writes
  }
}

bool Locked(const std::string& path) { return qvt_DBStatusCheckerFile::TransactionLockExists(path.c_str()); }

// Follows the file until it holds the final totals; then answers 0.
int Reader(FileKind kind, const std::string& path) {
  const auto deadline = Clock::now() + std::chrono::seconds(Seconds() + 30);
  Seen seen;
  std::unique_ptr<View> view;
  while (Clock::now() < deadline) {
    const long long final = ReadNumber(path + ".final");
    if (kind == FileKind::Local) {
      if (!view) view = TryOpen(kind, path);
      if (view && view->db.FileStatus() != qvt_FileStatus::InTransaction && view->db.Snap() == 1) {
        view->table.Snap();
        view->array.Snap();
      }
      if (view) CheckNew(view->table, view->array, &seen);
    } else {
      const long long seq = ReadNumber(path + ".seq");
      if (seq % 2 == 0 && !Locked(path)) {
        std::unique_ptr<View> fresh = TryOpen(kind, path);
        if (fresh) {
          Seen next = seen;
          try {
            CheckNew(fresh->table, fresh->array, &next);
          } catch (const std::exception&) {
            if (ReadNumber(path + ".seq") == seq) throw;  // not a writer passing by
            continue;
          }
          if (ReadNumber(path + ".seq") == seq && !Locked(path)) seen = next;
        }
      }
    }
    if (final >= 0 && seen.rows == final && seen.arrayRows == final) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::fprintf(stderr, "reader ended with %d rows, %d array rows\n", seen.rows, seen.arrayRows);
  return 1;
}

class ManyReaders : public qvt_test::KindTest {};

TEST_P(ManyReaders, EveryReaderSeesEveryFlushInOrder) {
  const std::string path = Path();
  const FileKind kind = GetParam();
  const int seconds = Seconds();
  std::vector<std::unique_ptr<qvt_test::ChildProcess>> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.push_back(std::make_unique<qvt_test::ChildProcess>([kind, path] { return Reader(kind, path); }));
  }
  const auto writer = [kind, path, seconds] { return Writer(kind, path, seconds); };
  const qvt_test::ChildResult written = qvt_test::RunChild(writer, "", {}, (seconds + 30) * 1000);
  ASSERT_TRUE(written.Succeeded()) << written.err;
  EXPECT_GT(ReadNumber(path + ".final"), 0);
  for (int i = 0; i < kReaders; ++i) {
    const qvt_test::ChildResult result = readers[i]->Wait((seconds + 40) * 1000);
    EXPECT_TRUE(result.Succeeded()) << "reader " << i << ": " << result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ManyReaders, ::testing::ValuesIn(qvt_test::AllFileKinds()),
                         qvt_test::KindParamName);

}  // namespace
