// What a typed array costs: a large double array moved through
// qvt_Array::Write and Read (one buffered array call each, byte swapping
// included), with a 1 MiB I/O buffer and with the default one, against a
// plain sequential write()/read() of the same bytes in 1 MiB steps, measured
// in the same run; and CreateCopy of the array into another database
// against a plain copy of the same bytes. The ratios are printed after the
// table; the goal for the 1 MiB buffer is 0.80 or more.
//
// QVT_BENCH_VALUES sets the number of doubles (default 100 million, 800 MB;
// each file lives in the page cache, so no run measures the disk).
//
// On the 2-core development machine, shared with other builds, runs of
// 100 million values gave (ratio to plain, real time / CPU time):
//   Write, 1 MiB buffer     0.83-0.96 / 0.65-0.75
//   Read,  1 MiB buffer     0.70-0.88 / 0.70-0.88 (typically about 0.8)
//   Write, default buffer   0.41 / 0.29: a space write per 2048 bytes
//   Read,  default buffer   0.84 / 0.85: large reads skip the block
//   CreateCopy vs plain copy of the bytes: 0.80-0.98 / 0.75-0.94
// What remains is the byte swap itself: the conversion of every value
// costs about as much as the kernel's copy of it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "qvt_Array.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include <benchmark/benchmark.h>

namespace {

constexpr int kBigBuffer = 1048576;
constexpr std::size_t kStep = 1048576;

int ValueCount() {
  static const int count = [] {
    const char* text = std::getenv("QVT_BENCH_VALUES");
    const long value = text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 && value <= 250000000 ? static_cast<int>(value) : 100000000;
  }();
  return count;
}

std::int64_t ByteCount() { return static_cast<std::int64_t>(ValueCount()) * 8; }

const std::vector<double>& Data() {
  static const std::vector<double> data = [] {
    std::vector<double> out(static_cast<std::size_t>(ValueCount()));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<double>(i) * 0.5 + 0.25;
    return out;
  }();
  return data;
}

std::string ScratchName(const char* leaf) {
  static const std::filesystem::path dir = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("qvt_arrays_bench_" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return (dir / leaf).string();
}

void SetBytes(benchmark::State& state) { state.SetBytesProcessed(state.iterations() * ByteCount()); }

// ---- Plain POSIX baseline ----

bool PlainWriteFile(const std::string& name, const char* bytes, std::size_t size) {
  const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t at = 0; ok && at < size;) {
    const ssize_t n = ::write(fd, bytes + at, std::min(kStep, size - at));
    ok = n > 0;
    if (ok) at += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

std::size_t PlainReadFile(const std::string& name, char* bytes, std::size_t size) {
  const int fd = ::open(name.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  std::size_t at = 0;
  while (at < size) {
    const ssize_t n = ::read(fd, bytes + at, std::min(kStep, size - at));
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return at;
}

void PlainWrite(benchmark::State& state) {
  const std::vector<double>& data = Data();
  const std::string name = ScratchName("plain.bin");
  for (auto _ : state) {
    if (!PlainWriteFile(name, reinterpret_cast<const char*>(data.data()), data.size() * 8))
      state.SkipWithError("plain write failed");
  }
  SetBytes(state);
}

void PlainRead(benchmark::State& state) {
  const std::vector<double>& data = Data();
  const std::string name = ScratchName("plain.bin");
  if (!PlainWriteFile(name, reinterpret_cast<const char*>(data.data()), data.size() * 8))
    state.SkipWithError("plain write failed");
  std::vector<double> back(data.size());
  for (auto _ : state) {
    if (PlainReadFile(name, reinterpret_cast<char*>(back.data()), back.size() * 8) != back.size() * 8)
      state.SkipWithError("plain read short");
    benchmark::DoNotOptimize(back.data());
  }
  SetBytes(state);
}

// Reads and writes a file of the same size in 1 MiB steps: what a copy of
// the stored bytes costs at best.
void PlainCopy(benchmark::State& state) {
  const std::vector<double>& data = Data();
  const std::string from = ScratchName("plain.bin");
  const std::string to = ScratchName("plain_copy.bin");
  if (!PlainWriteFile(from, reinterpret_cast<const char*>(data.data()), data.size() * 8))
    state.SkipWithError("plain write failed");
  std::vector<char> chunk(kStep);
  for (auto _ : state) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ssize_t n;
    while ((n = ::read(in, chunk.data(), chunk.size())) > 0) {
      if (::write(out, chunk.data(), static_cast<std::size_t>(n)) != n)
        state.SkipWithError("copy write failed");
    }
    ::close(in);
    ::close(out);
  }
  SetBytes(state);
}

// ---- The typed array ----

// Creates a database holding one double array of the data, written with
// the given buffer size; answers the array's handle.
qvt_Handle WriteArrayDatabase(const std::string& name, int bufferSize) {
  const std::vector<double>& data = Data();
  qvt_Database db = qvt_Database::Create(qvt_File::Open(name, 2, false), "BNCH", "arrays bench", 0);
  qvt_Array<double, 4> array = db.ArrayDouble(1, 0, bufferSize);
  array.Write(data.data(), static_cast<int>(data.size()));
  array.Flush();
  db.Flush();
  return array.Handle();
}

void ArrayWrite(benchmark::State& state) {
  const std::string name = ScratchName("array_write.odb");
  for (auto _ : state) WriteArrayDatabase(name, static_cast<int>(state.range(0)));
  SetBytes(state);
}

void ArrayRead(benchmark::State& state) {
  const std::vector<double>& data = Data();
  const std::string name = ScratchName("array_read.odb");
  const qvt_Handle handle = WriteArrayDatabase(name, kBigBuffer);
  std::vector<double> back(data.size());
  for (auto _ : state) {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(name, 0, true), "BNCH");
    qvt_Array<double, 4> array = db.ArrayDouble(handle, 0, static_cast<int>(state.range(0)));
    if (array.Read(back.data(), static_cast<int>(back.size())) != static_cast<int>(back.size()))
      state.SkipWithError("array read short");
    benchmark::DoNotOptimize(back.data());
  }
  if (back.front() != data.front() || back.back() != data.back()) state.SkipWithError("values differ");
  SetBytes(state);
}

void ArrayCreateCopy(benchmark::State& state) {
  const std::string from = ScratchName("array_source.odb");
  const std::string to = ScratchName("array_copy.odb");
  const qvt_Handle handle = WriteArrayDatabase(from, kBigBuffer);
  for (auto _ : state) {
    qvt_Database source = qvt_Database::Open(qvt_File::Open(from, 0, true), "BNCH");
    qvt_Database destination = qvt_Database::Create(qvt_File::Open(to, 2, false), "BNCH", "copy", 0);
    benchmark::DoNotOptimize(qvt_Array<double, 4>::CreateCopy(destination, source, handle));
  }
  SetBytes(state);
}

// Keeps each benchmark's real and CPU time per iteration for the ratios
// printed at the end. The CPU time (user and system time of the running
// thread) is the steadier figure on a machine shared with other work.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : benchmark::ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.iterations < 1) continue;
      const double n = static_cast<double>(run.iterations);
      m_Times[run.benchmark_name()] = {run.real_accumulated_time / n, run.cpu_accumulated_time / n};
    }
  }
  // Seconds per iteration of the first benchmark whose name starts with
  // prefix; {0, 0} when none ran.
  std::pair<double, double> Times(const std::string& prefix) const {
    for (const auto& entry : m_Times)
      if (entry.first.rfind(prefix, 0) == 0) return entry.second;
    return {0.0, 0.0};
  }

 private:
  std::map<std::string, std::pair<double, double>> m_Times;
};

void PrintRatio(const RatioReporter& reporter, const char* what, const char* ours, const char* plain,
                const char* goal) {
  const auto a = reporter.Times(ours);
  const auto b = reporter.Times(plain);
  if (a.first <= 0.0 || b.first <= 0.0 || a.second <= 0.0 || b.second <= 0.0) return;
  const double mib = static_cast<double>(ByteCount()) / 1048576.0;
  std::printf("%-36s %7.0f MiB/s vs plain %7.0f MiB/s: ratio %.2f real time, %.2f CPU time%s\n", what,
              mib / a.first, mib / b.first, b.first / a.first, b.second / a.second, goal);
}

}  // namespace

BENCHMARK(PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(ArrayWrite)
    ->Name("ArrayWrite/1MiB")
    ->Arg(kBigBuffer)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(ArrayWrite)
    ->Name("ArrayWrite/default")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(ArrayRead)
    ->Name("ArrayRead/1MiB")
    ->Arg(kBigBuffer)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(ArrayRead)
    ->Name("ArrayRead/default")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(ArrayCreateCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("%d doubles (%.1f MiB) per run\n", ValueCount(), static_cast<double>(ByteCount()) / 1048576.0);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\n");
  PrintRatio(reporter, "array Write, 1 MiB buffer:", "ArrayWrite/1MiB", "PlainWrite", " (goal >= 0.80)");
  PrintRatio(reporter, "array Read, 1 MiB buffer:", "ArrayRead/1MiB", "PlainRead", " (goal >= 0.80)");
  PrintRatio(reporter, "array Write, default 2048 B buffer:", "ArrayWrite/default", "PlainWrite", "");
  PrintRatio(reporter, "array Read, default 2048 B buffer:", "ArrayRead/default", "PlainRead", "");
  PrintRatio(reporter, "CreateCopy vs plain copy:", "ArrayCreateCopy", "PlainCopy", "");
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(ScratchName("x")).parent_path(), ec);
  return 0;
}
