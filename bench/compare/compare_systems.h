// The workloads of each system compared: qvt, HDF5, SQLite, plain
// write()/read() and bare zlib. Every function times its own work (file
// closed, data handed to the operating system) and answers a Measure whose
// checksum covers what it read back; throws nothing of its own but ends the
// program through Fail when a library call fails.
#ifndef QVT_BENCH_COMPARE_COMPARE_SYSTEMS_H
#define QVT_BENCH_COMPARE_COMPARE_SYSTEMS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "compare.h"

namespace compare {

// ---- Rows of four fields, written and scanned one at a time ----
Measure QvtWriteRows(const std::string& path, int rows, bool compressed);
Measure QvtScanRows(const std::string& path);
Measure Hdf5PacketWriteRows(const std::string& path, int rows);
Measure Hdf5PacketScanRows(const std::string& path);
Measure Hdf5BatchWriteRows(const std::string& path, int rows);
Measure Hdf5BatchScanRows(const std::string& path);
Measure SqliteWriteRows(const std::string& path, int rows);
Measure SqliteScanRows(const std::string& path);

// ---- Doubles in 1 MiB steps ----
// bufferSize: the array's I/O buffer in bytes (0: the default).
Measure QvtWriteDoubles(const std::string& path, const std::vector<double>& data, int bufferSize,
                        bool compressed);
Measure QvtReadDoubles(const std::string& path, std::vector<double>* out, int bufferSize);
Measure PlainWriteDoubles(const std::string& path, const std::vector<double>& data);
Measure PlainReadDoubles(const std::string& path, std::vector<double>* out);
// A chunked dataset with deflate level 6, chunks of kSegment bytes.
Measure Hdf5WriteDeflate(const std::string& path, const std::vector<double>& data);
Measure Hdf5ReadDeflate(const std::string& path, std::vector<double>* out);
// compress2 at level 6 and uncompress on kSegment-byte segments, in memory.
Measure ZlibCompress(const std::vector<double>& data, std::vector<std::vector<unsigned char>>* segments);
Measure ZlibUncompress(const std::vector<std::vector<unsigned char>>& segments, std::vector<double>* out);

// ---- Small objects of valuesPer doubles each ----
// qvt: one array per object, or one table of valuesPer rows of one double.
// The reads open the file, read objects first, first + stride, ... (count
// of them) and close it.
Measure QvtCreateObjects(const std::string& path, int count, int valuesPer, bool tables,
                         std::vector<std::uint32_t>* handles);
Measure QvtReadObjects(const std::string& path, const std::vector<std::uint32_t>& handles, int first,
                       int stride, int count, int valuesPer, bool tables);
Measure Hdf5CreateObjects(const std::string& path, int count, int valuesPer);
Measure Hdf5ReadObjects(const std::string& path, int first, int stride, int count, int valuesPer);
Measure SqliteCreateObjects(const std::string& path, int count, int valuesPer);
Measure SqliteReadObjects(const std::string& path, int first, int stride, int count, int valuesPer);

// ---- A writer followed by a reader in another process ----
struct FollowRow {
  int seq;
  double stamp;  // CLOCK_MONOTONIC nanoseconds when the writer made the row
};

class FollowWriter {
 public:
  virtual ~FollowWriter() = default;
  // Appends one row and makes it visible to readers (flush).
  virtual void Append(const FollowRow& row) = 0;
};

class FollowReader {
 public:
  virtual ~FollowReader() = default;
  // Looks once for rows the writer made visible and appends them to rows.
  virtual void Poll(std::vector<FollowRow>* rows) = 0;
};

// The writer creates the file and makes its empty table visible before
// the reader opens it.
std::unique_ptr<FollowWriter> QvtFollowWriter(const std::string& path);
std::unique_ptr<FollowReader> QvtFollowReader(const std::string& path);
std::unique_ptr<FollowWriter> Hdf5FollowWriter(const std::string& path);
std::unique_ptr<FollowReader> Hdf5FollowReader(const std::string& path);

struct FollowResult {
  double medianUs = 0;
  double p99Us = 0;
  int lost = 0;
  std::uint64_t checksum = 0;  // of the rows the reader saw
  std::uint64_t expected = 0;  // of the rows the writer wrote
};

// Runs a writer here and a reader in a child process of this program.
// system: "qvt" or "hdf5".
FollowResult RunFollow(const std::string& system, const std::string& path, int rows);
// The child's side: argv after "--follow-reader" is system, path, rows, output.
int FollowReaderMain(int argc, char** argv);

}  // namespace compare

#endif  // QVT_BENCH_COMPARE_COMPARE_SYSTEMS_H
