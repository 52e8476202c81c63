// What the row-at-a-time path of analysis programs costs: writing rows of
// four fields (int, double, float, a string from a vocabulary of 1,000)
// into a table of a local database file and reading them back, one row
// and one field at a time, on one core. Fields are named by index, as a
// program does once it has looked its handles up; the by-name variants show
// what a name lookup per access adds. Rows per second are reported as
// items_per_second; the goals are 5 million written and 10 million read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "qvt_Database.h"
#include "qvt_File.h"

namespace {

constexpr int kRows = 2000000;

const std::vector<cow_String>& Vocabulary() {
  static const std::vector<cow_String> words = [] {
    std::vector<cow_String> out;
    for (int i = 0; i < 1000; ++i) out.push_back("term_" + std::to_string(i * 7919 % 100000));
    return out;
  }();
  return words;
}

// A scratch folder removed with its files when the program ends.
struct ScratchFolder {
  ScratchFolder()
      : path(std::filesystem::temp_directory_path() /
             ("qvt_tables_bench_" + std::to_string(std::random_device()()))) {
    std::filesystem::create_directories(path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

std::string ScratchName(const char* leaf) {
  static const ScratchFolder folder;
  return (folder.path / leaf).string();
}

qvt_TableMetadata RowClass() {
  qvt_TableMetadata md("Result", 1);
  md.DefineIntField("id");         // index 0
  md.DefineDoubleField("value");   // index 1
  md.DefineFloatField("weight");   // index 2
  md.DefineStringField("label");   // index 3
  return md;
}

// Writes rows rows into a new database at path; answers nothing, throws
// what the library throws.
template <class Handle>
void WriteTable(const std::string& path, int rows, const Handle (&fields)[4]) {
  qvt_Database db = qvt_Database::Create(qvt_File::Open(path, 2, false), "BNCH", "tables benchmark", 0);
  {
    qvt_Table table = db.Table(RowClass(), 1 << 20, -1);
    const std::vector<cow_String>& words = Vocabulary();
    for (int r = 0; r < rows; ++r) {
      qvt_Row row = table.NewRow();
      row.WriteFieldInt(fields[0], r);
      row.WriteFieldDouble(fields[1], r * 0.125);
      row.WriteFieldFloat(fields[2], static_cast<float>(r & 1023));
      row.WriteFieldString(fields[3], words[static_cast<std::size_t>(r) % words.size()]);
    }
    table.Flush();
  }
  db.Flush();
}

void BM_WriteRows(benchmark::State& state, bool byName) {
  const qvt_FieldHandle byIndex[4] = {qvt_FieldHandle(0), qvt_FieldHandle(1), qvt_FieldHandle(2),
                                      qvt_FieldHandle(3)};
  const qvt_FieldHandle named[4] = {qvt_FieldHandle("id"), qvt_FieldHandle("value"), qvt_FieldHandle("weight"),
                                    qvt_FieldHandle("label")};
  const std::string path = ScratchName(byName ? "write_by_name.odb" : "write.odb");
  for (auto _ : state) WriteTable(path, kRows, byName ? named : byIndex);
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
}

void BM_ReadRows(benchmark::State& state, bool byName) {
  const std::string path = ScratchName("read.odb");
  static bool written = false;
  const qvt_FieldHandle byIndex[4] = {qvt_FieldHandle(0), qvt_FieldHandle(1), qvt_FieldHandle(2),
                                      qvt_FieldHandle(3)};
  if (!written) {
    WriteTable(path, kRows, byIndex);
    written = true;
  }
  const qvt_FieldHandle named[4] = {qvt_FieldHandle("id"), qvt_FieldHandle("value"), qvt_FieldHandle("weight"),
                                    qvt_FieldHandle("label")};
  const qvt_FieldHandle(&fields)[4] = byName ? named : byIndex;
  long long checksum = 0;
  for (auto _ : state) {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(path, 0, true), "BNCH");
    db.Bind(RowClass());
    qvt_Table table = db.Table(db.RootTableHandle(), 0, -1);
    const int rows = table.Length();
    for (int r = 0; r < rows; ++r) {
      qvt_Row row = table.ReadRow(r);
      checksum += row.ReadFieldInt(fields[0]);
      checksum += static_cast<long long>(row.ReadFieldDouble(fields[1]));
      checksum += static_cast<long long>(row.ReadFieldFloat(fields[2]));
      checksum += static_cast<long long>(row.ReadFieldString(fields[3]).size());
    }
    if (rows != kRows) state.SkipWithError("wrong row count");
  }
  benchmark::DoNotOptimize(checksum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK_CAPTURE(BM_WriteRows, by_index, false)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_ReadRows, by_index, false)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_WriteRows, by_name, true)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_ReadRows, by_name, true)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
