// Child processes and standard-stream capture for tests that need a second
// process (a reader beside a writer, a prompt waiting on standard input) or
// that check what the library prints on standard error.
//
// ChildProcess forks; the child runs a function with its standard input,
// output and error connected to pipes held by the parent, and leaves with
// the function's return value through _exit (no atexit handlers, no
// destructors of the parent's objects, no gtest reporting in the child).
// An exception escaping the function is printed on the child's standard
// error and gives exit code 98.
#ifndef QVT_TESTS_SUPPORT_QVT_CHILDPROCESS_H
#define QVT_TESTS_SUPPORT_QVT_CHILDPROCESS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qvt_test {

struct ChildResult {
  bool exited = false;   // ended through exit/_exit
  int exitCode = -1;     // valid when exited
  int signal = 0;        // the terminating signal, 0 if none
  bool timedOut = false; // killed by Wait after its timeout
  std::string out;       // everything written to standard output
  std::string err;       // everything written to standard error
  bool Succeeded() const { return exited && exitCode == 0 && !timedOut; }
};

class ChildProcess {
 public:
  // Environment entries are set in the child (an empty value sets the
  // variable to ""); unset lists variables removed in the child.
  explicit ChildProcess(std::function<int()> body, const std::map<std::string, std::string>& env = {},
                        const std::vector<std::string>& unset = {});
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_Pid; }
  // Writes to the child's standard input; false if the pipe is closed.
  bool WriteStdin(const std::string& text);
  void CloseStdin();
  // Collects output until the child's standard output (or error) contains
  // text or timeoutMs passes; true when found. The text stays collected.
  bool WaitForStdout(const std::string& text, int timeoutMs);
  bool WaitForStderr(const std::string& text, int timeoutMs);
  const std::string& OutSoFar() const { return m_Out; }
  const std::string& ErrSoFar() const { return m_Err; }
  // Closes standard input, collects the rest of the output and reaps the
  // child; kills it when it runs longer than timeoutMs.
  ChildResult Wait(int timeoutMs = 20000);

 private:
  // Reads what is available within timeoutMs; false when both pipes closed.
  bool Pump(int timeoutMs);
  bool WaitFor(const std::string& text, const std::string& stream, int timeoutMs);

  pid_t m_Pid = -1;
  int m_In = -1;
  int m_OutFd = -1;
  int m_ErrFd = -1;
  std::string m_Out;
  std::string m_Err;
  bool m_Reaped = false;
};

// Runs body in a child with the given standard input (then closed) and
// answers its result.
ChildResult RunChild(std::function<int()> body, const std::string& input = "",
                     const std::map<std::string, std::string>& env = {}, int timeoutMs = 20000);

// Runs the program argv[0] with the arguments that follow it in a child
// (the environment entries set there first) and answers its result; exit
// code 127 when it could not be started.
ChildResult RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                       int timeoutMs = 60000);

// Redirects this process's standard error (file descriptor 2, and the C
// stream) to a scratch file from construction until Stop or destruction.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  // Restores standard error and answers everything written meanwhile.
  std::string Stop();

 private:
  int m_Saved = -1;
  int m_File = -1;
  std::string m_Text;
};

// In a child process run by root: gives up root for the user and group
// "nobody" (65534), so that permission checks apply. Answers false when the
// switch failed; does nothing and answers true when not root.
bool DropRootPrivileges();

// In a child process: limits the size any file may reach to bytes, so that
// writes and resizes beyond it fail (EFBIG) instead of raising SIGXFSZ.
// Answers false when the limit could not be set.
bool LimitFileSize(long long bytes);

// Sets or removes an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);  // value null: unset
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_Name;
  bool m_HadValue = false;
  std::string m_OldValue;
};

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_CHILDPROCESS_H
