// What compression costs a database file: writing and reading a compressed
// file through the file interface, against bare compress2 (level 6) and
// uncompress on the same bytes in 64 KiB segments, on one core. The ratios
// are printed after the table; the goal is 0.85 or more for both.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "qvt_File.h"
#include "qvt_FileReprEncoded.h"

namespace {

constexpr int kSegment = 65536;
constexpr std::size_t kDataSize = 16u << 20;
// The database moves bytes through 1024-byte blocks; files see a few of
// those at a time.
constexpr int kTransfer = 4096;

// Bytes shaped like table rows: big-endian ids and handles, smooth doubles,
// and string references into a small pool.
const std::vector<char>& Data() {
  static const std::vector<char> data = [] {
    std::vector<char> out(kDataSize);
    std::mt19937 rng(12345);
    std::size_t at = 0;
    auto put = [&](const void* p, std::size_t n) {
      const auto* b = static_cast<const unsigned char*>(p);
      for (std::size_t i = n; i-- > 0 && at < out.size();) out[at++] = static_cast<char>(b[i]);
    };
    for (std::uint32_t row = 0; at < out.size(); ++row) {
      const std::uint32_t id = row;
      const std::uint32_t handle = 4 + row / 1000;
      put(&id, 4);
      put(&handle, 4);
      for (int k = 0; k < 3; ++k) {
        const double v = std::round(std::sin(row * 0.001 * (k + 1)) * 1e4) / 1e4 + (rng() % 8) * 1e-3;
        put(&v, 8);
      }
      const double reference = static_cast<double>(8 * (rng() % 200));
      put(&reference, 8);
    }
    return out;
  }();
  return data;
}

std::string ScratchName(const char* leaf) {
  static const std::filesystem::path dir = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("qvt_bench_" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return (dir / leaf).string();
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kDataSize));
}

void BareCompress(benchmark::State& state) {
  const std::vector<char>& data = Data();
  std::vector<unsigned char> out(compressBound(kSegment));
  std::size_t stored = 0;
  for (auto _ : state) {
    stored = 0;
    for (std::size_t at = 0; at < data.size(); at += kSegment) {
      uLongf length = static_cast<uLongf>(out.size());
      const int rc = compress2(out.data(), &length, reinterpret_cast<const Bytef*>(data.data() + at),
                               static_cast<uLong>(std::min<std::size_t>(kSegment, data.size() - at)), 6);
      if (rc != Z_OK) state.SkipWithError("compress2 failed");
      stored += length;
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetBytes(state);
  state.counters["stored_bytes"] = static_cast<double>(stored);
}

void CompressedWrite(benchmark::State& state) {
  const std::vector<char>& data = Data();
  const std::string name = ScratchName("write.mdb");
  int mostBuffers = 0;
  for (auto _ : state) {
    qvt_File file = qvt_File::CreateCompressed(name);
    auto& encoded = dynamic_cast<qvt_FileReprEncoded&>(*file.Repr());
    for (std::size_t at = 0; at < data.size(); at += kTransfer) {
      file.Repr()->Write(data.data() + at, static_cast<int>(std::min<std::size_t>(kTransfer, data.size() - at)));
      mostBuffers = std::max(mostBuffers, encoded.Table().Cache().BufferCount());
    }
    // Closing flushes the segments still held in the cache.
  }
  SetBytes(state);
  state.counters["stored_bytes"] = static_cast<double>(std::filesystem::file_size(name));
  state.counters["decoded_buffer_bytes_peak"] = static_cast<double>(mostBuffers) * kSegment;
}

struct Encoded {
  std::vector<std::vector<unsigned char>> segments;
};

const Encoded& EncodedData() {
  static const Encoded encoded = [] {
    Encoded e;
    const std::vector<char>& data = Data();
    for (std::size_t at = 0; at < data.size(); at += kSegment) {
      std::vector<unsigned char> out(compressBound(kSegment));
      uLongf length = static_cast<uLongf>(out.size());
      compress2(out.data(), &length, reinterpret_cast<const Bytef*>(data.data() + at),
                static_cast<uLong>(std::min<std::size_t>(kSegment, data.size() - at)), 6);
      out.resize(length);
      e.segments.push_back(std::move(out));
    }
    return e;
  }();
  return encoded;
}

void BareUncompress(benchmark::State& state) {
  const Encoded& encoded = EncodedData();
  std::vector<unsigned char> out(kSegment);
  for (auto _ : state) {
    for (const auto& segment : encoded.segments) {
      uLongf length = kSegment;
      if (uncompress(out.data(), &length, segment.data(), static_cast<uLong>(segment.size())) != Z_OK)
        state.SkipWithError("uncompress failed");
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetBytes(state);
}

void CompressedRead(benchmark::State& state) {
  const std::vector<char>& data = Data();
  const std::string name = ScratchName("read.mdb");
  {
    qvt_File file = qvt_File::CreateCompressed(name);
    file.Repr()->Write(data.data(), static_cast<int>(data.size()));
  }
  std::vector<char> buffer(kTransfer);
  for (auto _ : state) {
    qvt_File file = qvt_File::Open(name, 0, true);
    std::size_t total = 0;
    int n;
    while ((n = file.Repr()->Read(buffer.data(), kTransfer)) > 0) total += static_cast<std::size_t>(n);
    if (total != data.size()) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  SetBytes(state);
}

// Keeps each benchmark's throughput for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) m_Rates[run.benchmark_name()] = it->second.value;
    }
  }
  double Rate(const std::string& prefix) const {
    for (const auto& entry : m_Rates)
      if (entry.first.rfind(prefix, 0) == 0) return entry.second;
    return 0.0;
  }

 private:
  std::map<std::string, double> m_Rates;
};

void PrintRatio(const RatioReporter& reporter, const char* what, const char* ours, const char* bare) {
  const double a = reporter.Rate(ours);
  const double b = reporter.Rate(bare);
  if (a <= 0.0 || b <= 0.0) return;
  std::printf("%-7s compressed file %8.1f MiB/s, bare zlib %8.1f MiB/s, ratio %.3f (goal >= 0.85)\n", what,
              a / 1048576.0, b / 1048576.0, a / b);
}

}  // namespace

BENCHMARK(BareCompress)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(CompressedWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BareUncompress)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(CompressedRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\n");
  PrintRatio(reporter, "write:", "CompressedWrite", "BareCompress");
  PrintRatio(reporter, "read:", "CompressedRead", "BareUncompress");
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(ScratchName("x")).parent_path(), ec);
  return 0;
}
