// The comparison program's sizes, data, checksums, clock and scratch
// folder.
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "compare.h"

namespace compare {

bool SizesFor(const std::string& name, Sizes* sizes) {
  if (name == "full") {
    *sizes = {"full", 2000000, 2000000, 100000000, 32 * 1048576, 100000, 16, 5000};
    return true;
  }
  if (name == "small") {
    *sizes = {"small", 20000, 20000, 2 * 1048576, 1048576, 2000, 16, 200};
    return true;
  }
  return false;
}

const std::string& Word(int w) {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> out;
    for (int i = 0; i < kVocabulary; ++i) out.push_back("term_" + std::to_string(i * 7919 % 100000));
    return out;
  }();
  return words[static_cast<std::size_t>(w)];
}

double PackedValue(std::int64_t i) {
  const std::uint64_t noise = (static_cast<std::uint64_t>(i) * 0x9e3779b97f4a7c15ull) >> 61;
  return std::round(std::sin(static_cast<double>(i) * 0.001) * 1e4) / 1e4 + static_cast<double>(noise) * 1e-3;
}

void Checksum::AddText(const char* text, std::size_t length) {
  std::uint64_t word = length;
  for (std::size_t i = 0; i < length; ++i) {
    word = (word << 8) | static_cast<unsigned char>(text[i]);
    if (i % 8 == 7) Add(word);
  }
  Add(word);
}

std::uint64_t ExpectedRows(int rows) {
  Checksum sum;
  for (int r = 0; r < rows; ++r) {
    const std::string& label = Word(RowWord(r));
    sum.AddRow(RowId(r), RowValue(r), RowWeight(r), label.data(), label.size());
  }
  return sum.Value();
}

std::uint64_t ExpectedDoubles(const std::vector<double>& values) {
  Checksum sum;
  sum.AddDoubles(values.data(), values.size());
  return sum.Value();
}

std::uint64_t ExpectedObjects(int first, int stride, int count, int valuesPer) {
  Checksum sum;
  for (int n = 0, k = first; n < count; ++n, k += stride)
    for (int j = 0; j < valuesPer; ++j) sum.AddDouble(ObjectValue(k, j));
  return sum.Value();
}

std::int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double SecondsSince(std::int64_t start) { return static_cast<double>(NowNs() - start) * 1e-9; }

namespace {

std::int64_t CpuNs() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

Stopwatch::Stopwatch() : m_Start(NowNs()), m_CpuStart(CpuNs()) {}

Measure Stopwatch::Done(std::uint64_t checksum) const {
  Measure m;
  m.seconds = SecondsSince(m_Start);
  m.cpuSeconds = static_cast<double>(CpuNs() - m_CpuStart) * 1e-9;
  m.checksum = checksum;
  return m;
}

namespace {

const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    const char* base = std::getenv("QVT_COMPARE_DIR");
    std::filesystem::path p = base != nullptr && *base != '\0' ? std::filesystem::path(base)
                                                               : std::filesystem::temp_directory_path();
    p /= "qvt_compare_" + std::to_string(::getpid());
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

}  // namespace

std::string Scratch(const std::string& leaf) { return (ScratchFolder() / leaf).string(); }

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchFolder(), ignored);
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "compare: %s\n", what.c_str());
  RemoveScratch();
  std::exit(1);
}

double FileMegabytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0.0 : static_cast<double>(size) / 1e6;
}

}  // namespace compare
