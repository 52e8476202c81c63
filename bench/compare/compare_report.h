// The comparison's report: one table of figures in groups, each figure
// compared with the first line of its group (qvt's), the checksums that
// were verified, and notes printed under the table.
#ifndef QVT_BENCH_COMPARE_COMPARE_REPORT_H
#define QVT_BENCH_COMPARE_COMPARE_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "compare.h"

namespace compare {

struct Line {
  std::string group;
  std::string system;
  double value;  // from the elapsed time
  double cpu;    // the same figure from the process's CPU time; 0: none
  const char* unit;
  bool higherBetter;  // a rate; otherwise a time or a delay
  bool ratio;         // compared with the group's first line
};

struct Report {
  std::vector<Line> lines;
  std::vector<std::string> notes;
  std::string machineBefore;  // Machine() when the run started
  int checks = 0;
  std::vector<std::string> mismatches;

  // count things in the time of m, shown as count / time / scale.
  void Rate(const std::string& group, const std::string& system, double count, const Measure& m, double scale,
            const char* unit) {
    lines.push_back(
        {group, system, count / m.seconds / scale, count / m.cpuSeconds / scale, unit, true, true});
  }
  // A time or delay, lower is better; cpu 0 when there is none.
  void Time(const std::string& group, const std::string& system, double value, double cpu, const char* unit) {
    lines.push_back({group, system, value, cpu, unit, false, true});
  }
  // A count shown as it is, compared with nothing.
  void Plain(const std::string& group, const std::string& system, double value, const char* unit) {
    lines.push_back({group, system, value, 0, unit, false, false});
  }
  void Verify(const std::string& what, std::uint64_t got, std::uint64_t expected) {
    ++checks;
    if (got != expected) mismatches.push_back(what);
  }
};

// The processor's model, cores online, memory and load average, on one line.
std::string Machine();

// n with thousands separated by commas.
std::string Count(long long n);

// The groups measured outside the main file.
void Objects(const Sizes& s, Report* report);
void Follow(const Sizes& s, Report* report);
// Prints the table, the notes and the checks on standard output, and the
// mismatches on standard error.
void Print(const Sizes& s, const Report& report);

}  // namespace compare

#endif  // QVT_BENCH_COMPARE_COMPARE_REPORT_H
