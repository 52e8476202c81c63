// qvt_compare: the same workloads with qvt, HDF5, SQLite, plain
// write()/read() and bare zlib on the same deterministic data; every
// figure is measured in this run and every read-back checksum is checked
// against the data written (a mismatch or a lost row ends with status 1).
// Usage: qvt_compare [--size small|full] [--only GROUP]. `--follow-reader
// ...` is the child process of the follow workload.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "compare_report.h"
#include "compare_systems.h"

namespace compare {
namespace {

void Rows(const Sizes& s, Report* report) {
  const std::string written = Count(s.rows) + " rows written one at a time";
  const std::string scanned = Count(s.rows) + " rows scanned one at a time";
  const std::uint64_t expected = ExpectedRows(s.rows);
  struct System {
    const char* name;
    const char* file;
    Measure (*write)(const std::string&, int);
    Measure (*scan)(const std::string&);
  };
  const System systems[] = {
      {"qvt table", "rows.odb", [](const std::string& p, int n) { return QvtWriteRows(p, n, false); },
       QvtScanRows},
      {"HDF5 packet table", "rows_pt.h5", Hdf5PacketWriteRows, Hdf5PacketScanRows},
      {"HDF5 1,024-row batches", "rows_batch.h5", Hdf5BatchWriteRows, Hdf5BatchScanRows},
      {"SQLite", "rows.sqlite", SqliteWriteRows, SqliteScanRows},
  };
  std::vector<std::pair<std::string, Measure>> scans;
  for (const System& system : systems) {
    const std::string path = Scratch(system.file);
    report->Rate(written, system.name, s.rows, system.write(path, s.rows), 1e6, "M rows/s");
    scans.push_back({system.name, system.scan(path)});
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
  }
  const std::string path = Scratch("rows.cdb");
  const Measure w = QvtWriteRows(path, s.compressedRows, true);
  const Measure r = QvtScanRows(path);
  char stored[96];
  std::snprintf(stored, sizeof stored, "compressed qvt table: %s rows, %.1f MB stored",
                Count(s.compressedRows).c_str(), FileMegabytes(path));
  report->notes.push_back(stored);
  report->notes.push_back(
      "rows: qvt and SQLite pool or store the string as text, HDF5 as a fixed 16-byte field of its compound\n"
      "  type; the packet table's chunks and the batches are 1,024 rows; SQLite runs WAL, synchronous=OFF\n"
      "  (no system here syncs to disk), one transaction, one prepared statement");
  std::remove(path.c_str());
  report->Rate(written, "qvt compressed table", s.compressedRows, w, 1e6, "M rows/s");
  for (const auto& scan : scans) {
    report->Rate(scanned, scan.first, s.rows, scan.second, 1e6, "M rows/s");
    report->Verify(scan.first + " rows", scan.second.checksum, expected);
  }
  report->Rate(scanned, "qvt compressed table", s.compressedRows, r, 1e6, "M rows/s");
  report->Verify("qvt compressed table rows", r.checksum, ExpectedRows(s.compressedRows));
}

void Arrays(const Sizes& s, Report* report) {
  std::vector<double> data(static_cast<std::size_t>(s.arrayDoubles));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = ArrayValue(static_cast<std::int64_t>(i));
  const std::uint64_t expected = ExpectedDoubles(data);
  const double bytes = static_cast<double>(data.size() * sizeof(double));
  const std::string mb = Count(static_cast<long long>(bytes / 1e6)) + " MB of doubles";
  std::vector<double> back(data.size());
  auto wipe = [&] { std::fill(back.begin(), back.end(), 0.0); };

  const std::string plainPath = Scratch("plain.bin");
  // The first large write of a run may pay for memory the machine has not
  // used for a while (a virtual machine then gets it back from its host,
  // at a tenth of the usual speed): an untimed one puts every system on the
  // same footing.
  (void)PlainWriteDoubles(plainPath, data);
  std::remove(plainPath.c_str());
  const Measure plainWrite = PlainWriteDoubles(plainPath, data);
  wipe();
  const Measure plainRead = PlainReadDoubles(plainPath, &back);
  std::remove(plainPath.c_str());
  report->Verify("plain read()", plainRead.checksum, expected);
  for (int buffer : {0, 1048576}) {
    const std::string how = buffer == 0 ? "default buffer" : "1 MiB buffer";
    const std::string path = Scratch("array.odb");
    const Measure w = QvtWriteDoubles(path, data, buffer, false);
    wipe();
    const Measure r = QvtReadDoubles(path, &back, buffer);
    std::remove(path.c_str());
    report->Verify("qvt array, " + how, r.checksum, expected);
    report->Rate(mb + " written, " + how, "qvt array", bytes, w, 1e6, "MB/s");
    report->Rate(mb + " written, " + how, "plain write(), 1 MiB steps", bytes, plainWrite, 1e6, "MB/s");
    report->Rate(mb + " read, " + how, "qvt array", bytes, r, 1e6, "MB/s");
    report->Rate(mb + " read, " + how, "plain read(), 1 MiB steps", bytes, plainRead, 1e6, "MB/s");
  }
}

void Compressed(const Sizes& s, Report* report) {
  std::vector<double> data(static_cast<std::size_t>(s.packedDoubles));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = PackedValue(static_cast<std::int64_t>(i));
  const std::uint64_t expected = ExpectedDoubles(data);
  const double bytes = static_cast<double>(data.size() * sizeof(double));
  const std::string mb = Count(static_cast<long long>(bytes / 1e6)) + " MB compressed";
  std::vector<double> back(data.size());
  auto stored = [&](const char* what, double megabytes) {
    char text[160];
    std::snprintf(text, sizeof text, "%s: %.1f MB stored for %.1f MB (%.2f:1)", what, megabytes, bytes / 1e6,
                  bytes / 1e6 / megabytes);
    report->notes.push_back(text);
  };

  const std::string qvtPath = Scratch("packed.cdb");
  const Measure qw = QvtWriteDoubles(qvtPath, data, 1048576, true);
  stored("qvt compressed file (array, 1 MiB buffer)", FileMegabytes(qvtPath));
  const Measure qr = QvtReadDoubles(qvtPath, &back, 1048576);
  std::remove(qvtPath.c_str());
  report->Verify("qvt compressed file", qr.checksum, expected);

  const std::string h5Path = Scratch("packed.h5");
  const Measure hw = Hdf5WriteDeflate(h5Path, data);
  stored("HDF5 deflate 6, 64 KiB chunks", FileMegabytes(h5Path));
  std::fill(back.begin(), back.end(), 0.0);
  const Measure hr = Hdf5ReadDeflate(h5Path, &back);
  std::remove(h5Path.c_str());
  report->Verify("HDF5 deflate", hr.checksum, expected);

  std::vector<std::vector<unsigned char>> segments;
  const Measure zw = ZlibCompress(data, &segments);
  double total = 0;
  for (const auto& segment : segments) total += static_cast<double>(segment.size());
  stored("bare zlib, 64 KiB segments", total / 1e6);
  std::fill(back.begin(), back.end(), 0.0);
  const Measure zr = ZlibUncompress(segments, &back);
  report->Verify("bare zlib", zr.checksum, expected);

  report->Rate(mb + ", written", "qvt compressed file", bytes, qw, 1e6, "MB/s");
  report->Rate(mb + ", written", "HDF5 deflate 6, 64 KiB chunks", bytes, hw, 1e6, "MB/s");
  report->Rate(mb + ", written", "zlib compress2 6 (no file)", bytes, zw, 1e6, "MB/s");
  report->Rate(mb + ", read", "qvt compressed file", bytes, qr, 1e6, "MB/s");
  report->Rate(mb + ", read", "HDF5 deflate 6, 64 KiB chunks", bytes, hr, 1e6, "MB/s");
  report->Rate(mb + ", read", "zlib uncompress (no file)", bytes, zr, 1e6, "MB/s");
}

}  // namespace
}  // namespace compare

int main(int argc, char** argv) {
  using namespace compare;
  if (argc > 1 && std::strcmp(argv[1], "--follow-reader") == 0) return FollowReaderMain(argc - 2, argv + 2);
  std::string size = "small";
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      size = argv[++i];
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--size small|full] [--only rows|arrays|compressed|objects|follow]\n",
                   argv[0]);
      return 2;
    }
  }
  Sizes sizes;
  if (!SizesFor(size, &sizes)) {
    std::fprintf(stderr, "%s: unknown size '%s' (small or full)\n", argv[0], size.c_str());
    return 2;
  }
  Report report;
  report.machineBefore = Machine();
  const std::int64_t start = NowNs();
  const struct {
    const char* name;
    void (*run)(const Sizes&, Report*);
  } groups[] = {{"rows", Rows},
                {"arrays", Arrays},
                {"compressed", Compressed},
                {"objects", Objects},
                {"follow", Follow}};
  for (const auto& group : groups) {
    if (!only.empty() && only != group.name) continue;
    std::fprintf(stderr, "qvt_compare: %s (%.0f s so far)\n", group.name, SecondsSince(start));
    group.run(sizes, &report);
  }
  char took[64];
  std::snprintf(took, sizeof took, "the whole run took %.1f s", SecondsSince(start));
  report.notes.push_back(took);
  Print(sizes, report);
  RemoveScratch();
  return report.mismatches.empty() ? 0 : 1;
}
