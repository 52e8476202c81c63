// The comparison program's shared pieces: the sizes of a run, the
// deterministic data every system writes, the checksum every system's
// read-back is folded into, clocks, scratch files and the interface of
// each system's workloads. Benchmark code: it may call POSIX directly.
#ifndef QVT_BENCH_COMPARE_COMPARE_H
#define QVT_BENCH_COMPARE_COMPARE_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace compare {

// ---- Sizes ----

struct Sizes {
  const char* name;
  int rows;                    // rows written and scanned one at a time
  int compressedRows;          // rows into a compressed table
  std::int64_t arrayDoubles;   // doubles through arrays and plain write()/read()
  std::int64_t packedDoubles;  // doubles through the compressed file kinds
  int objects;                 // small objects created and read
  int objectValues;            // doubles in each small object
  int followRows;              // rows a writer flushes one by one to a follower
};

// "full" or "small"; answers false for any other name.
bool SizesFor(const std::string& name, Sizes* sizes);

// ---- Deterministic data ----

constexpr int kVocabulary = 1000;
constexpr int kLabelBytes = 16;         // room for every word, with its terminating zero
constexpr int kSegment = 65536;         // bytes per compressed segment or chunk
constexpr std::size_t kStep = 1048576;  // bytes per write()/read() and per array call

// Word w of the vocabulary that the rows' string field draws from.
const std::string& Word(int w);

// Row r holds these four values.
inline int RowId(int r) { return r; }
inline double RowValue(int r) { return r * 0.125; }
inline float RowWeight(int r) { return static_cast<float>(r & 1023); }
inline int RowWord(int r) { return static_cast<int>((static_cast<unsigned>(r) * 7u) % kVocabulary); }

// Doubles of the array workloads: distinct, not compressible.
inline double ArrayValue(std::int64_t i) { return static_cast<double>(i) * 0.5 + 0.25; }
// Doubles of the compressed workloads: smooth with a little noise, so
// deflate finds something to do, as it does in results of a simulation.
double PackedValue(std::int64_t i);
// Value j of small object k.
inline double ObjectValue(int k, int j) { return k + j * 0.0625; }

// ---- Checksums ----

class Checksum {
 public:
  void Add(std::uint64_t x) {
    m_Hash ^= x;
    m_Hash *= 0x100000001b3ull;
    m_Hash ^= m_Hash >> 29;
  }
  void AddInt(int v) { Add(static_cast<std::uint32_t>(v)); }
  void AddDouble(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    Add(bits);
  }
  void AddFloat(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    Add(bits);
  }
  void AddText(const char* text, std::size_t length);
  void AddRow(int id, double value, float weight, const char* label, std::size_t labelLength) {
    AddInt(id);
    AddDouble(value);
    AddFloat(weight);
    AddText(label, labelLength);
  }
  void AddDoubles(const double* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) AddDouble(values[i]);
  }
  std::uint64_t Value() const { return m_Hash; }

 private:
  std::uint64_t m_Hash = 0xcbf29ce484222325ull;
};

// What the systems must read back.
std::uint64_t ExpectedRows(int rows);
std::uint64_t ExpectedDoubles(const std::vector<double>& values);
// Objects first, first + stride, ... (count of them), each of valuesPer values.
std::uint64_t ExpectedObjects(int first, int stride, int count, int valuesPer);

// ---- Clocks and scratch files ----

// CLOCK_MONOTONIC, in nanoseconds.
std::int64_t NowNs();
// Seconds since start.
double SecondsSince(std::int64_t start);
// A file name in the run's scratch folder, which is removed at exit.
std::string Scratch(const std::string& leaf);
void RemoveScratch();
// Prints what failed on standard error and ends the program with status 1.
[[noreturn]] void Fail(const std::string& what);
double FileMegabytes(const std::string& path);

// ---- Results of one workload ----

struct Measure {
  double seconds = 0;          // elapsed (CLOCK_MONOTONIC)
  double cpuSeconds = 0;       // this process's CPU time, user and system
  std::uint64_t checksum = 0;  // of what was read back; 0 for a write
};

// Started when made; Done answers the elapsed and CPU time since.
class Stopwatch {
 public:
  Stopwatch();
  Measure Done(std::uint64_t checksum = 0) const;

 private:
  std::int64_t m_Start;
  std::int64_t m_CpuStart;
};

}  // namespace compare

#endif  // QVT_BENCH_COMPARE_COMPARE_H
