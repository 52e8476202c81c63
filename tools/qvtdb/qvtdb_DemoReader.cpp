// The demo's second process: follows the database the demo's writer is
// writing. It polls the file's status, refreshes with Snap when the writer
// has flushed, and prints what each refresh brought (the generic changes,
// then every new frame with its nodal values and run messages) and a
// progress line, until the writer's end-of-run message.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <thread>
#include <vector>

#include "nex_Exception.h"
#include "qvtdb_DemoModel.h"
#include "qvtdb_Follow.h"
#include "qvtdb_Platform.h"
#include "qvtdb_Progress.h"
#include "qvtdb_Tool.h"

namespace model = qvtdb_DemoModel;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 40;
constexpr int kBarWidth = 24;

struct Messages {
  int iterations = 0;
  double residual = 0;
  std::string status;
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string Bar(int done, int total) {
  const int filled = total > 0 ? done * kBarWidth / total : kBarWidth;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
}

// Reads the frames the reader has not seen yet and prints one line each.
int ReportFrames(qvt_Database& db, int seen, const std::map<int, Messages>& messages) {
  qvt_Table frames = db.Table(model::kFramesTable, -1, -1);
  const int rows = frames.Length();
  for (int r = seen; r < rows; ++r) {
    qvt_Row row = frames.ReadRow(r);
    const int frame = row.ReadFieldInt("frame");
    const double time = row.ReadFieldDouble("time");
    qvt_Array<double, 4> u = db.ArrayDouble(row.ReadFieldHandle("U"), -1, 0);
    std::vector<double> values(static_cast<std::size_t>(u.Length()) * model::kComponents);
    double largest = 0;
    if (!values.empty()) {
      const int got = u.Read(values.data(), u.Length());
      for (int node = 0; node * model::kComponents + model::kComponents <= got; ++node) {
        double square = 0;
        for (int c = 0; c < model::kComponents; ++c) {
          const double v = values[static_cast<std::size_t>(node * model::kComponents + c)];
          square += v * v;
        }
        largest = std::max(largest, std::sqrt(square));
      }
    }
    char line[160];
    std::snprintf(line, sizeof line, "          frame %d  t=%.3f  %d nodal values read, max |U| = %.6f", frame, time,
                  u.Length() * u.FieldCount(), largest);
    std::cout << line;
    const auto note = messages.find(frame);
    if (note != messages.end()) {
      std::snprintf(line, sizeof line, "  (%s in %d iterations, residual %.2g)", note->second.status.c_str(),
                    note->second.iterations, note->second.residual);
      std::cout << line;
    }
    std::cout << '\n';
  }
  return rows;
}

}  // namespace

int qvtdb_DemoReader(const std::string& file, double timeoutSeconds) {
  qvtdb_CatchInterrupts();
  // What the writer stored before this process opened the file counts as
  // brought by the opening: on a fast writer that may be everything.
  std::vector<qvtdb_StreamRecord> initial;
  const std::unique_ptr<qvtdb_Follower> following = qvtdb_FollowWhenReadable(file, timeoutSeconds, &initial);
  qvtdb_Follower& follower = *following;
  int planned = 0;
  {
    qvt_Table steps = follower.Database().Table(model::kStepsTable, -1, -1);
    if (steps.Length() > 0) planned = steps.ReadRow(0).ReadFieldInt("frames");
  }
  std::cout << "reader: opened " << file << " at flush count " << follower.FlushCount() << ": " << planned
            << " frames planned on " << follower.Objects().at(model::kNodesTable).count << " nodes" << std::endl;

  std::map<int, Messages> messages;
  int seenFrames = 0;
  int refreshes = 0;
  bool finished = false;
  // Takes the new records and frames; answers whether the run is over.
  const auto take = [&](const std::vector<qvtdb_StreamRecord>& records) {
    bool over = false;
    for (const qvtdb_StreamRecord& record : records) {
      if (record.id == model::kEndOfRun) {
        over = true;
        std::cout << "          message: " << record.value << '\n';
        continue;
      }
      Messages& note = messages[record.id];
      if (record.type == qvt_TypeInt) note.iterations = std::atoi(record.value.c_str());
      if (record.type == qvt_TypeDouble) note.residual = std::atof(record.value.c_str());
      if (record.type == qvt_TypeString) note.status = record.value;
    }
    seenFrames = ReportFrames(follower.Database(), seenFrames, messages);
    std::cout << "reader: " << Bar(seenFrames, planned) << " " << seenFrames << "/" << planned << " frames"
              << std::endl;
    return over;
  };
  if (follower.Objects().at(model::kFramesTable).count > 0 || initial.size() > 0) {
    std::cout << "reader: already in the file:\n";
    finished = take(initial);
  }

  qvt_FileStatus::QvtFileStatus shown = qvt_FileStatus::Unchanged;
  Clock::time_point lastChange = Clock::now();
  while (!finished) {
    if (qvtdb_Interrupted()) throw qvtdb_Failure("reader: interrupted");
    if (Seconds(lastChange) > timeoutSeconds) {
      char text[96];
      std::snprintf(text, sizeof text, "reader: the writer has done nothing for %g s", timeoutSeconds);
      throw qvtdb_Failure(text);
    }
    const qvt_FileStatus::QvtFileStatus status = follower.Status();
    if (status != shown && status != qvt_FileStatus::InTransaction && status != qvt_FileStatus::Unchanged) {
      std::cout << "reader: status " << qvtdb_StatusName(status) << std::endl;
    }
    shown = status;
    if (status == qvt_FileStatus::Recreated || status == qvt_FileStatus::CheckFailed) {
      throw qvtdb_Failure("reader: the file was replaced or removed while it was followed");
    }
    qvtdb_Changes changes;
    if (status == qvt_FileStatus::InTransaction || !follower.Refresh(&changes)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      continue;
    }
    lastChange = Clock::now();
    ++refreshes;
    std::cout << "reader: refresh " << refreshes << ", flush count " << changes.flushCount << " brought:\n";
    for (const std::string& line : qvtdb_DescribeChanges(follower, changes, false)) {
      std::cout << "          " << line << '\n';
    }
    finished = take(changes.records);
  }
  std::cout << "reader: the writer finished; " << seenFrames << " frames followed in " << refreshes << " refreshes"
            << std::endl;
  return qvtdb_ExitOk;
}
