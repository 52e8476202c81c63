// A writer followed by a reader in another process: the writer (this
// process) appends a row stamped with CLOCK_MONOTONIC, flushes it and notes
// when the flush ended; the reader (a child running this program with
// --follow-reader) polls without pause and notes when each row became
// visible to it. The delay of a row runs from the end of its flush to that
// moment; CLOCK_MONOTONIC is one clock for every process of the machine.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "compare_systems.h"
#include <sys/wait.h>

namespace compare {
namespace {

constexpr std::int64_t kPaceNs = 1000000;            // the writer's pause between rows
constexpr std::int64_t kReaderIdleNs = 10000000000;  // the reader gives up after 10 s without a row

// What the reader reports for each row it saw.
struct Sighting {
  int seq;
  double stamp;
  std::int64_t seen;
};

std::unique_ptr<FollowWriter> MakeWriter(const std::string& system, const std::string& path) {
  return system == "qvt" ? QvtFollowWriter(path) : Hdf5FollowWriter(path);
}

std::unique_ptr<FollowReader> MakeReader(const std::string& system, const std::string& path) {
  return system == "qvt" ? QvtFollowReader(path) : Hdf5FollowReader(path);
}

void Pause(std::int64_t ns) {
  const timespec pause{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  nanosleep(&pause, nullptr);
}

// Starts this program as the reader with its standard output on a pipe;
// answers the child's id and the pipe's reading end.
pid_t SpawnReader(const std::string& system, const std::string& path, int rows, const std::string& out,
                  int* pipeOut) {
  int fds[2];
  if (pipe(fds) != 0) Fail("follow: pipe failed");
  const std::string count = std::to_string(rows);
  const pid_t pid = fork();
  if (pid < 0) Fail("follow: fork failed");
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    // The writer's open files stay with the writer.
    for (long fd = 3, last = sysconf(_SC_OPEN_MAX); fd < std::min(last, 65536L); ++fd)
      close(static_cast<int>(fd));
    execl("/proc/self/exe", "qvt_compare", "--follow-reader", system.c_str(), path.c_str(), count.c_str(),
          out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  *pipeOut = fds[0];
  return pid;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t rank = static_cast<std::size_t>(fraction * static_cast<double>(values.size()) + 0.999999);
  return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

}  // namespace

FollowResult RunFollow(const std::string& system, const std::string& path, int rows) {
  const std::string out = path + ".seen";
  std::unique_ptr<FollowWriter> writer = MakeWriter(system, path);
  int ready = -1;
  const pid_t pid = SpawnReader(system, path, rows, out, &ready);
  char byte = 0;
  if (read(ready, &byte, 1) != 1 || byte != 'R') Fail("follow: the " + system + " reader did not start");
  close(ready);

  std::vector<std::int64_t> flushed(static_cast<std::size_t>(rows));
  std::vector<double> stamps(static_cast<std::size_t>(rows));
  Checksum written;
  for (int seq = 0; seq < rows; ++seq) {
    const double stamp = static_cast<double>(NowNs());
    writer->Append(FollowRow{seq, stamp});
    flushed[static_cast<std::size_t>(seq)] = NowNs();
    stamps[static_cast<std::size_t>(seq)] = stamp;
    written.AddInt(seq);
    written.AddDouble(stamp);
    Pause(kPaceNs);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("follow: the " + system + " reader failed");
  writer.reset();

  std::vector<Sighting> sightings;
  if (FILE* f = std::fopen(out.c_str(), "rb")) {
    Sighting s;
    while (std::fread(&s, sizeof s, 1, f) == 1) sightings.push_back(s);
    std::fclose(f);
  }
  std::remove(out.c_str());

  FollowResult result;
  Checksum seen;
  std::vector<bool> got(static_cast<std::size_t>(rows), false);
  std::vector<double> delays;
  for (const Sighting& s : sightings) {
    seen.AddInt(s.seq);
    seen.AddDouble(s.stamp);
    if (s.seq < 0 || s.seq >= rows || got[static_cast<std::size_t>(s.seq)]) continue;
    got[static_cast<std::size_t>(s.seq)] = true;
    delays.push_back(static_cast<double>(s.seen - flushed[static_cast<std::size_t>(s.seq)]) * 1e-3);
  }
  result.lost = static_cast<int>(std::count(got.begin(), got.end(), false));
  result.medianUs = Percentile(delays, 0.5);
  result.p99Us = Percentile(delays, 0.99);
  result.checksum = seen.Value();
  result.expected = written.Value();
  return result;
}

int FollowReaderMain(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: --follow-reader qvt|hdf5 PATH ROWS OUTPUT\n");
    return 2;
  }
  const std::string system = argv[0];
  const int rows = std::atoi(argv[2]);
  std::unique_ptr<FollowReader> reader = MakeReader(system, argv[1]);
  std::vector<FollowRow> visible;
  std::vector<Sighting> sightings;
  std::fputc('R', stdout);
  std::fflush(stdout);
  for (std::int64_t last = NowNs(); static_cast<int>(visible.size()) < rows;) {
    const std::size_t before = visible.size();
    reader->Poll(&visible);
    const std::int64_t now = NowNs();
    if (visible.size() == before) {
      if (now - last > kReaderIdleNs) break;
      continue;
    }
    for (std::size_t i = before; i < visible.size(); ++i)
      sightings.push_back({visible[i].seq, visible[i].stamp, now});
    last = now;
  }
  reader.reset();
  FILE* f = std::fopen(argv[3], "wb");
  if (f == nullptr) return 1;
  const bool ok = std::fwrite(sightings.data(), sizeof(Sighting), sightings.size(), f) == sightings.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}

}  // namespace compare
