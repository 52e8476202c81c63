// qvtdb watch: follows a database while it is written. Prints every change
// of the file's status and what each refresh brought, until interrupted or,
// with --until-idle, until nothing has happened for that long.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "nex_Exception.h"
#include "qvtdb_Follow.h"
#include "qvtdb_Platform.h"
#include "qvtdb_Tool.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPatienceSeconds = 2.0;

class Stamp {
 public:
  std::string operator()() const {
    char text[32];
    std::snprintf(text, sizeof text, "[%7.2fs] ",
                  std::chrono::duration<double>(Clock::now() - m_Start).count());
    return text;
  }

 private:
  Clock::time_point m_Start = Clock::now();
};

void Announce(const std::string& file, const qvtdb_Follower& follower) {
  std::cout << "watching " << file << ": flush count " << follower.FlushCount() << ", "
            << follower.Objects().size() << " spaces" << std::endl;
}

}  // namespace

int qvtdb_Watch(const qvtdb_WatchOptions& options) {
  qvtdb_CatchInterrupts();
  const Stamp stamp;
  std::unique_ptr<qvtdb_Follower> follower = qvtdb_FollowWhenReadable(options.file, kPatienceSeconds);
  Announce(options.file, *follower);
  qvt_FileStatus::QvtFileStatus shown = qvt_FileStatus::Unchanged;
  Clock::time_point lastChange = Clock::now();
  std::string reopenFailure;
  std::string refreshFailure;
  while (!qvtdb_Interrupted()) {
    if (!follower) {
      // The file was re-created: follow the new database once it opens
      // (its writer may not have flushed it yet).
      try {
        follower = std::make_unique<qvtdb_Follower>(options.file);
        std::cout << stamp();
        Announce(options.file, *follower);
        shown = qvt_FileStatus::Unchanged;
        reopenFailure.clear();
      } catch (const nex_Exception& e) {
        if (reopenFailure != e.AsString()) {
          reopenFailure = e.AsString();
          std::cout << stamp() << "cannot open the new database yet: " << qvtdb_OneLine(reopenFailure) << std::endl;
        }
      }
    } else {
      const qvt_FileStatus::QvtFileStatus status = follower->Status();
      // Updated and re-created are events, told each time; being in a
      // transaction or failing is a state, told when it begins. Back to
      // unchanged after each flush is not worth a line. Only events and the
      // start of a state count as activity, so a transaction lock that
      // stays (a writer that died inside a transaction) lets --until-idle
      // end.
      const bool event = status == qvt_FileStatus::Updated || status == qvt_FileStatus::Recreated;
      if (event || status != shown) lastChange = Clock::now();
      if (event || (status != shown && status != qvt_FileStatus::Unchanged)) {
        std::cout << stamp() << "status: " << qvtdb_StatusName(status);
        if (status == qvt_FileStatus::InTransaction && qvtdb_TransactionLockState(options.file) == qvtdb_LockStale)
          std::cout << " (" << qvtdb_StaleLockNote(options.file) << ")";
        std::cout << std::endl;
      }
      shown = status;
      if (status == qvt_FileStatus::Recreated) {
        follower.reset();
        continue;
      }
      if (status != qvt_FileStatus::CheckFailed && status != qvt_FileStatus::InTransaction) {
        qvtdb_Changes changes;
        bool refreshed = false;
        try {
          refreshed = follower->Refresh(&changes);
          refreshFailure.clear();
        } catch (const nex_Exception& e) {
          // A writer that flushes outside a transaction can be caught half
          // way; the next poll tries again. The same failure is told once.
          if (refreshFailure != e.AsString()) {
            refreshFailure = e.AsString();
            std::cout << stamp() << "refresh failed: " << qvtdb_OneLine(refreshFailure) << std::endl;
          }
        }
        if (refreshed) {
          lastChange = Clock::now();
          // A flush that landed between the status check and the refresh
          // is found by the refresh's own check, which uses up the status:
          // it is still an update and told as one.
          if (status != qvt_FileStatus::Updated) std::cout << stamp() << "status: updated" << std::endl;
          std::cout << stamp() << "refresh: flush count " << changes.flushCount << std::endl;
          const std::vector<std::string> lines = qvtdb_DescribeChanges(*follower, changes, true);
          if (lines.empty()) std::cout << "             no new objects, rows or records\n";
          for (const std::string& line : lines) std::cout << "             " << line << '\n';
          std::cout.flush();
        }
      }
    }
    if (options.untilIdle > 0 &&
        std::chrono::duration<double>(Clock::now() - lastChange).count() >= options.untilIdle) {
      std::cout << stamp() << "idle for " << options.untilIdle << " s; stopping";
      if (follower) std::cout << " at flush count " << follower->FlushCount();
      std::cout << std::endl;
      return qvtdb_ExitOk;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
  }
  std::cout << stamp() << "interrupted; stopping" << std::endl;
  return qvtdb_ExitOk;
}
