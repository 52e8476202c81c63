// Child processes, standard-error capture and scoped environment variables. A child runs a function with its
// standard streams piped to the parent and leaves through _exit with its return value (no atexit handlers, no
// gtest reporting), or 98 when an exception escapes it, told on standard error.
#ifndef QVT_TESTS_SUPPORT_QVT_CHILDPROCESS_H
#define QVT_TESTS_SUPPORT_QVT_CHILDPROCESS_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "utl_TempFile.h"
#include <sys/types.h>

class uti_Spawn;

namespace qvt_test {

struct ChildResult {
  bool exited = false;    // ended through exit/_exit
  int exitCode = -1;      // valid when exited
  int signal = 0;         // the terminating signal, 0 if none
  bool timedOut = false;  // killed by Wait after its timeout
  std::string out;        // everything written to standard output
  std::string err;        // everything written to standard error
  bool Succeeded() const { return exited && exitCode == 0 && !timedOut; }
};

class ChildProcess {
 public:
  // env entries are set in the child (an empty value sets "").
  explicit ChildProcess(std::function<int()> body, const std::map<std::string, std::string>& env = {});
  ~ChildProcess();  // kills and reaps a child still running; copies are refused by m_Process

  pid_t Pid() const;
  bool WriteStdin(const std::string& text);  // false once the pipe is closed
  // Collects output until done() holds or timeoutMs passes; answers done().
  bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
  bool WaitForStdout(const std::string& text, int timeoutMs) { return WaitFor(m_Out, text, timeoutMs); }
  bool WaitForStderr(const std::string& text, int timeoutMs) { return WaitFor(m_Err, text, timeoutMs); }
  const std::string& OutSoFar() const { return m_Out; }
  const std::string& ErrSoFar() const { return m_Err; }
  // Closes standard input, collects the output and reaps the child, killed past timeoutMs.
  ChildResult Wait(int timeoutMs = 20000);

 private:
  bool Pump(int timeoutMs);  // false once both pipes are closed
  bool WaitFor(const std::string& stream, const std::string& text, int timeoutMs) {
    return WaitUntil([&] { return stream.find(text) != std::string::npos; }, timeoutMs);
  }

  std::unique_ptr<uti_Spawn> m_Process;
  int m_In = -1, m_OutFd = -1, m_ErrFd = -1;
  std::string m_Out, m_Err;
};

// A child driven one command line at a time, so that a test can hold a
// writer in any state while it checks a reader.
class CommandedChild {
 public:
  // In a child: answers each line of standard input with handler(line) as
  // "<n>:<answer>" (n from 1) until the line "quit" or the end of input.
  explicit CommandedChild(std::function<std::string(const std::string&)> handler);
  // The child's answer to command, or "<no answer>" and what it wrote when none came in time.
  std::string Ask(const std::string& command, int timeoutMs = 20000);
  ChildResult Finish();  // sends "quit" and reaps the child

 private:
  std::unique_ptr<ChildProcess> m_Child;
  int m_Asked = 0;
};

// Runs body in a child with input on its standard input.
ChildResult RunChild(std::function<int()> body, const std::string& input = "",
                     const std::map<std::string, std::string>& env = {}, int timeoutMs = 20000);

// Runs the program argv[0] with the arguments after it; exit code 127 when it cannot start.
ChildResult RunProgram(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env = {}, int timeoutMs = 60000);

// Sends standard error (descriptor 2) to a scratch file until Stop, which answers what came.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture() { Stop(); }  // copies are refused by m_File
  std::string Stop();

 private:
  int m_Saved = -1;
  utl_TempFile m_File;
  std::string m_Text;
};

// In a child run by root: becomes "nobody" (65534) so that permission checks apply; false on failure.
bool DropRootPrivileges();

// In a child: files may grow to bytes at most, writes beyond failing with
// EFBIG instead of raising SIGXFSZ; false when that could not be set.
bool LimitFileSize(long long bytes);

// Sets (or, value null, removes) an environment variable while alive.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();

 private:
  std::string m_Name;
  std::unique_ptr<const std::string> m_Old;  // null when unset; refuses copies
};

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_CHILDPROCESS_H
