// Prints the comparison's table: one line per system and workload, the
// group's label on its first line, and each line's ratio to the group's
// first line.
#include "compare_report.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace compare {
namespace {

std::string Figure(double value) {
  char text[32];
  if (std::fabs(value) >= 100 || value == static_cast<long long>(value))
    std::snprintf(text, sizeof text, "%.0f", value);
  else if (value >= 10)
    std::snprintf(text, sizeof text, "%.1f", value);
  else
    std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// How many times better first is than line: rates first / line, times
// line / first.
std::string Ratio(const Line& first, const Line& line, double Line::*figure) {
  const double mine = first.*figure;
  const double theirs = line.*figure;
  if (&first == &line || !line.ratio || theirs <= 0 || mine <= 0) return "-";
  const double ratio = line.higherBetter ? mine / theirs : theirs / mine;
  return Figure(ratio);
}

}  // namespace

std::string Machine() {
  std::string model = "unknown processor";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) != 0) continue;
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) model = line.substr(line.find_first_not_of(' ', colon + 1));
    break;
  }
  const double memory =
      static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
  double load[3] = {0, 0, 0};
  const bool loaded = getloadavg(load, 3) == 3;
  char average[32] = "unknown";
  if (loaded) std::snprintf(average, sizeof average, "%.1f", load[0]);
  char text[256];
  std::snprintf(text, sizeof text, "%s, %ld cores, %.1f GiB memory, load average %s", model.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), memory / 1073741824.0, average);
  return text;
}

std::string Count(long long n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

void Print(const Sizes& s, const Report& report) {
  char date[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  std::printf("qvt compared with HDF5, SQLite, plain write()/read() and zlib: size %s, %s\n", s.name, date);
  std::printf("machine at the start: %s\n", report.machineBefore.c_str());
  std::printf("machine at the end:   %s\n\n", Machine().c_str());
  std::printf("%-44s %-30s %-8s %8s %6s %8s %6s\n", "WORKLOAD", "SYSTEM", "UNIT", "ELAPSED", "QVT x", "CPU",
              "QVT x");
  const Line* first = nullptr;
  for (const Line& line : report.lines) {
    const bool starts = first == nullptr || first->group != line.group;
    if (starts) first = &line;
    std::printf("%-44s %-30s %-8s %8s %6s %8s %6s\n", starts ? line.group.c_str() : "", line.system.c_str(),
                line.unit, Figure(line.value).c_str(), Ratio(*first, line, &Line::value).c_str(),
                line.cpu > 0 ? Figure(line.cpu).c_str() : "-", Ratio(*first, line, &Line::cpu).c_str());
  }
  std::printf(
      "\nELAPSED: the figure from the elapsed time; CPU: the same from this process's CPU time (user and\n"
      "system), steadier on a shared machine. QVT x: how many times better the group's first line (qvt) "
      "does\n"
      "than this line: for rates its rate over this one, for times and delays this one over its own.\n");
  for (const std::string& note : report.notes) std::printf("- %s\n", note.c_str());
  std::printf("- read-back checksums: %d of %d match the data written\n",
              report.checks - static_cast<int>(report.mismatches.size()), report.checks);
  for (const std::string& what : report.mismatches)
    std::fprintf(stderr, "compare: %s read back other data than was written\n", what.c_str());
}

}  // namespace compare
