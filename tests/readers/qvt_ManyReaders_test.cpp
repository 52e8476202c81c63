// One writer and eight reader processes on a growing database, plain and
// compressed, for QVT_READERS_SECONDS (3 unless set): row counts never shrink,
// every row holds what was written, and every reader ends with every flush.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_DBStatusCheckerFile.h"
#include "qvt_Database.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_ObjectShapes.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include <gtest/gtest.h>

namespace {

using qvt_test::FileKind;
using Clock = std::chrono::steady_clock;

constexpr qvt_Handle kTable = 4;

// Row r holds 7r + 1, r / 2 and "r<r>" (the strings grow the pool as readers follow).
std::string RowText(int row) { return "r" + std::to_string(row); }

int Seconds() {
  const char* text = std::getenv("QVT_READERS_SECONDS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

// A number in a small file, replaced whole by a rename; -1 while absent.
void WriteNumber(const std::string& path, long long value) {
  { std::ofstream(path + ".tmp") << value; }
  if (std::rename((path + ".tmp").c_str(), path.c_str()) != 0) throw std::runtime_error("rename " + path);
}
long long ReadNumber(const std::string& path) {
  long long value = -1;
  return std::ifstream(path) >> value ? value : -1;
}

// Batches of 1 to 7 rows, each in a transaction ended by a flush; the total goes to
// <path>.final. <path>.seq is odd during a transaction: compressed readers reopen.
int Writer(FileKind kind, const std::string& path, int seconds) {
  qvt_Database db = qvt_Database::Create(qvt_test::OpenFileOfKind(kind, path, 2), "ODB", "readers", 1);
  qvt_Table table = db.Table(
      qvt_test::Shape("rows", {{"i", qvt_TypeInt}, {"d", qvt_TypeDouble}, {"s", qvt_TypeString}}), 64, -1);
  if (table.Handle() != kTable) throw std::runtime_error("unexpected handle");
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
        row.WriteFieldInt("i", rows * 7 + 1);
        row.WriteFieldDouble("d", rows * 0.5);
        row.WriteFieldString("s", RowText(rows).c_str());
      }
      table.Flush();
      db.Flush();
    }
    WriteNumber(path + ".seq", ++seq);
    std::this_thread::sleep_for(std::chrono::milliseconds(batch % 5));
  }
  WriteNumber(path + ".final", rows);
  return 0;
}

// Checks every row from seen on; answers the new row count.
int CheckNew(qvt_Table& table, int seen) {
  const int rows = table.Length();
  if (rows < seen) throw std::runtime_error("row count shrank to " + std::to_string(rows));
  for (int r = seen; r < rows; ++r) {
    qvt_Row row = table.ReadRow(r);
    if (row.ReadFieldInt("i") != r * 7 + 1 || row.ReadFieldDouble("d") != r * 0.5 ||
        std::string(row.ReadFieldString("s").c_str()) != RowText(r))
      throw std::runtime_error("row " + std::to_string(r) + " differs");
  }
  return rows;
}

struct View {
  explicit View(qvt_Database opened) : db(opened), table((db.Bind(), db.Table(kTable, -1, -1))) {}
  qvt_Database db;
  qvt_Table table;
};

std::unique_ptr<View> TryOpen(FileKind kind, const std::string& path) {
  try {
    return std::make_unique<View>(qvt_Database::Open(qvt_test::OpenFileOfKind(kind, path, 0), "ODB"));
  } catch (const nex_Exception&) {
    return nullptr;  // not created yet, or (compressed) caught between writes
  }
}

bool Locked(const std::string& path) { return qvt_DBStatusCheckerFile::TransactionLockExists(path.c_str()); }

// Follows the file until it holds the final total; then answers 0.
int Reader(FileKind kind, const std::string& path) {
  const auto deadline = Clock::now() + std::chrono::seconds(Seconds() + 30);
  int seen = 0;
  std::unique_ptr<View> view;
  while (Clock::now() < deadline) {
    const long long final = ReadNumber(path + ".final");
    if (kind == FileKind::Local) {
      if (!view) view = TryOpen(kind, path);
      if (view && view->db.FileStatus() != qvt_FileStatus::InTransaction && view->db.Snap() == 1)
        view->table.Snap();
      if (view) seen = CheckNew(view->table, seen);
    } else {
      const long long seq = ReadNumber(path + ".seq");
      std::unique_ptr<View> fresh = seq % 2 == 0 && !Locked(path) ? TryOpen(kind, path) : nullptr;
      try {
        const int next = fresh ? CheckNew(fresh->table, seen) : seen;
        if (ReadNumber(path + ".seq") == seq && !Locked(path)) seen = next;
      } catch (const std::exception&) {
        if (ReadNumber(path + ".seq") == seq) throw;  // not a writer passing by
      }
    }
    if (final >= 0 && seen == final) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::fprintf(stderr, "reader ended with %d rows\n", seen);
  return 1;
}

class ManyReaders : public qvt_test::KindTest {};

TEST_P(ManyReaders, EveryReaderSeesEveryFlushInOrder) {
  const std::string path = Path();
  const FileKind kind = GetParam();
  const int seconds = Seconds();
  std::vector<std::unique_ptr<qvt_test::ChildProcess>> readers;
  for (int i = 0; i < 8; ++i)
    readers.push_back(std::make_unique<qvt_test::ChildProcess>([kind, path] { return Reader(kind, path); }));
  const qvt_test::ChildResult written = qvt_test::RunChild(
      [kind, path, seconds] { return Writer(kind, path, seconds); }, "", {}, (seconds + 30) * 1000);
  ASSERT_TRUE(written.Succeeded()) << written.err;
  EXPECT_GT(ReadNumber(path + ".final"), 0);
  for (int i = 0; i < 8; ++i) {
    const qvt_test::ChildResult result = readers[i]->Wait((seconds + 40) * 1000);
    EXPECT_TRUE(result.Succeeded()) << "reader " << i << ": " << result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ManyReaders, ::testing::ValuesIn(qvt_test::AllFileKinds()),
                         qvt_test::KindParamName);

}  // namespace
