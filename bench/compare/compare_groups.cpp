// Two groups of the comparison: many small objects (created, one opened
// and read, all read) and a writer followed by a reader process.
#include <algorithm>
#include <cstdio>

#include "compare_report.h"
#include "compare_systems.h"

namespace compare {
namespace {

constexpr int kSingleReads = 9;  // the single-object figure is the median of these

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

void Objects(const Sizes& s, Report* report) {
  const std::string label = Count(s.objects) + " objects of " + std::to_string(s.objectValues) + " doubles";
  const std::string created = label + " created";
  const std::string one = "one of them opened and read (median of " + std::to_string(kSingleReads) + ")";
  const std::string all = label + " read";
  const std::uint64_t expectedAll = ExpectedObjects(0, 1, s.objects, s.objectValues);

  enum Kind { kQvtArrays, kQvtTables, kHdf5, kSqlite };
  const struct {
    Kind kind;
    const char* name;
    const char* file;
  } systems[] = {{kQvtArrays, "qvt arrays", "objects.odb"},
                 {kQvtTables, "qvt tables", "objects_tables.odb"},
                 {kHdf5, "HDF5 datasets", "objects.h5"},
                 {kSqlite, "SQLite rows of a blob table", "objects.sqlite"}};
  struct Result {
    Measure create, one, all;  // one: the medians of the single reads
  };
  std::vector<Result> results;
  for (const auto& system : systems) {
    const std::string path = Scratch(system.file);
    const bool tables = system.kind == kQvtTables;
    std::vector<std::uint32_t> handles;
    Measure made;
    switch (system.kind) {
      case kQvtArrays:
      case kQvtTables:
        made = QvtCreateObjects(path, s.objects, s.objectValues, tables, &handles);
        break;
      case kHdf5:
        made = Hdf5CreateObjects(path, s.objects, s.objectValues);
        break;
      case kSqlite:
        made = SqliteCreateObjects(path, s.objects, s.objectValues);
        break;
    }
    auto read = [&](int first, int stride, int count) {
      switch (system.kind) {
        case kHdf5:
          return Hdf5ReadObjects(path, first, stride, count, s.objectValues);
        case kSqlite:
          return SqliteReadObjects(path, first, stride, count, s.objectValues);
        default:
          return QvtReadObjects(path, handles, first, stride, count, s.objectValues, tables);
      }
    };
    std::vector<double> singles, singlesCpu;
    for (int n = 0; n < kSingleReads; ++n) {
      const int k = static_cast<int>((n * 7919LL + s.objects / 2) % s.objects);
      const Measure m = read(k, 0, 1);
      singles.push_back(m.seconds);
      singlesCpu.push_back(m.cpuSeconds);
      report->Verify(std::string(system.name) + " object " + std::to_string(k), m.checksum,
                     ExpectedObjects(k, 0, 1, s.objectValues));
    }
    const Measure whole = read(0, 1, s.objects);
    report->Verify(std::string(system.name) + " objects", whole.checksum, expectedAll);
    Measure single;
    single.seconds = Median(singles);
    single.cpuSeconds = Median(singlesCpu);
    results.push_back({made, single, whole});
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
  }
  for (std::size_t i = 0; i < 4; ++i)
    report->Rate(created, systems[i].name, s.objects, results[i].create, 1e3, "k/s");
  for (std::size_t i = 0; i < 4; ++i)
    report->Time(one, systems[i].name, results[i].one.seconds * 1e6, results[i].one.cpuSeconds * 1e6, "us");
  for (std::size_t i = 0; i < 4; ++i)
    report->Rate(all, systems[i].name, s.objects, results[i].all, 1e3, "k/s");
}

void Follow(const Sizes& s, Report* report) {
  const std::string median = "follow, " + Count(s.followRows) + " rows: delay median";
  const std::string p99 = "follow: delay 99th percentile";
  const std::string lost = "follow: rows lost";
  report->notes.push_back(
      "follow: one row per flush, 1 ms apart; a row's delay runs from the end of the writer's flush to the\n"
      "  reader holding the row (CLOCK_MONOTONIC in both processes). Below 0 when the reader holds the row\n"
      "  before the writer's call returns: qvt's writer ends its transaction by removing the lock\n"
      "  directory, and a reader goes ahead as soon as the name is gone, tens of us before rmdir returns");
  const struct {
    const char* system;
    const char* name;
    const char* file;
  } systems[] = {{"qvt", "qvt: FileStatus polls, Snap", "follow.odb"},
                 {"hdf5", "HDF5 SWMR: H5Drefresh polls", "follow.h5"}};
  std::vector<FollowResult> results;
  for (const auto& system : systems) {
    const std::string path = Scratch(system.file);
    results.push_back(RunFollow(system.system, path, s.followRows));
    std::remove(path.c_str());
    report->Verify(std::string(system.name) + " follow", results.back().checksum, results.back().expected);
    if (results.back().lost > 0)
      report->mismatches.push_back(std::string(system.name) + " lost " + std::to_string(results.back().lost) +
                                   " rows");
  }
  for (std::size_t i = 0; i < 2; ++i) report->Time(median, systems[i].name, results[i].medianUs, 0, "us");
  for (std::size_t i = 0; i < 2; ++i) report->Time(p99, systems[i].name, results[i].p99Us, 0, "us");
  for (std::size_t i = 0; i < 2; ++i) report->Plain(lost, systems[i].name, results[i].lost, "rows");
}

}  // namespace compare
