// What the subcommands of qvtdb share: exit codes, the two failures of the
// tool itself, the one-line form of a library message, and one entry point
// per subcommand (each in its own file, called by main.cpp).
#ifndef QVT_TOOLS_QVTDB_QVTDB_TOOL_H
#define QVT_TOOLS_QVTDB_QVTDB_TOOL_H

#include <cstdint>
#include <stdexcept>
#include <string>

enum qvtdb_ExitCode { qvtdb_ExitOk = 0, qvtdb_ExitProblem = 1, qvtdb_ExitUsage = 2 };

// The command line is well formed but an argument is not acceptable (a
// handle that is not a number, a row range backwards...): exit status 2.
class qvtdb_UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure found by the tool itself rather than the library (a target file
// that exists, an object of the wrong kind): exit status 1.
class qvtdb_Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A message of one or more lines as one line: each line trimmed, joined by
// single blanks, empty lines dropped.
std::string qvtdb_OneLine(const std::string& message);

// "1 problem", "2 problems": a count with its noun.
std::string qvtdb_Count(std::int64_t count, const char* singular, const char* plural);

// The note ls and info print on standard error when the file's structure
// has problems: their number and how to list them.
std::string qvtdb_StructureNote(const std::string& file, std::int64_t problems);

// A non-negative number in decimal or, with a 0x prefix, hexadecimal.
// THROWS qvtdb_UsageError naming what (for example "handle") otherwise.
std::int64_t qvtdb_ParseNumber(const std::string& text, const char* what, std::int64_t maximum);

struct qvtdb_DumpOptions {
  std::string file;
  std::string handle;
  std::string format = "text";  // text, csv or json
  std::string rows;             // FIRST:LAST, both included, either may be left out
};

struct qvtdb_ConvertOptions {
  std::string source;
  std::string destination;
  bool compress = true;
  bool force = false;
  std::string progress = "auto";  // auto (when standard error is a terminal), always, never
};

struct qvtdb_WatchOptions {
  std::string file;
  double untilIdle = 0;    // seconds without change before stopping; 0: until interrupted
  int intervalMs = 200;    // between two status checks
};

struct qvtdb_DemoOptions {
  std::string file;        // empty: a file in the current folder
  bool compressed = false;
  bool force = false;      // overwrite an existing FILE
  int frames = 12;
  int intervalMs = 150;    // the writer's pause between two frames
};

// The transaction lock beside a file: absent, held by a live writer (one
// that holds the file's writer lock), or stale (no writer holds the file).
enum qvtdb_LockState { qvtdb_LockAbsent, qvtdb_LockHeld, qvtdb_LockStale };
qvtdb_LockState qvtdb_TransactionLockState(const std::string& file);
// "stale transaction lock <lock>: no writer holds the file (qvtdb unlock
// removes it)".
std::string qvtdb_StaleLockNote(const std::string& file);

int qvtdb_Info(const std::string& file);
// Removes a stale transaction lock; refuses (qvtdb_Failure) while a writer
// holds the file.
int qvtdb_Unlock(const std::string& file);
int qvtdb_Ls(const std::string& file);
int qvtdb_Classes(const std::string& file);
int qvtdb_Dump(const qvtdb_DumpOptions& options);
int qvtdb_Locate(const std::string& file, const std::string& offset);
int qvtdb_Check(const std::string& file);
int qvtdb_Convert(const qvtdb_ConvertOptions& options);
int qvtdb_Watch(const qvtdb_WatchOptions& options);
int qvtdb_Demo(const qvtdb_DemoOptions& options);
// The demo's second process: follows file until the writer's end mark.
int qvtdb_DemoReader(const std::string& file, double timeoutSeconds);

#endif  // QVT_TOOLS_QVTDB_QVTDB_TOOL_H
