// Child processes: finding a program, starting it with pipes to its
// standard input and output and its standard error sent to a file, asking
// whether it still runs, and reaping it within a bounded time. Each child
// leads its own process group, so killing it also ends what it started
// (a relay's ssh, for instance).
#ifndef QVT_FOUNDATION_UTI_SPAWN_H
#define QVT_FOUNDATION_UTI_SPAWN_H

#include <map>
#include <memory>
#include <vector>

#include "cow_String.h"
#include <sys/types.h>

// Where the child's standard error goes: "2>" to stderrFile (created or
// appended to), or the caller's own standard error when it is empty.
struct uti_Redirection {
  cow_String stderrFile;
};

class uti_Spawn {
 public:
  // The path of program name: name itself when it holds a '/', else the
  // first executable regular file called name along PATH; "" when none.
  static cow_String FindCommand(const cow_String& name);

  virtual ~uti_Spawn();
  uti_Spawn(const uti_Spawn&) = delete;
  uti_Spawn& operator=(const uti_Spawn&) = delete;

  // False once the child has ended (it is then reaped).
  bool IsRunning();
  // Waits at most graceMs milliseconds for the child to end; past that,
  // kills its process group and waits for it. Answers the exit status, or
  // 128 + signal number when it ended by a signal, or -1 when it had to be
  // killed. Later calls answer the same.
  int Reap(int graceMs);
  pid_t ProcessId() const { return m_Pid; }

 protected:
  explicit uti_Spawn(pid_t pid) : m_Pid(pid) {}
  void KillGroup();

 private:
  bool TryWait();

  pid_t m_Pid;
  bool m_Reaped = false;
  int m_Result = 0;
};

class uti_SpawnSourceWithSink : public uti_Spawn {
 public:
  // Starts programPath with argv[0] = command and then arguments, its
  // standard input and output pipes to the caller, its standard error as
  // redirection says, and the caller's environment plus environment.
  // THROWS nex_TextException naming the program when the pipes cannot be
  // made or the program cannot be run (missing, not executable).
  static std::unique_ptr<uti_SpawnSourceWithSink> spawnSourceWithSink(
      const cow_String& command, const cow_String& programPath, const std::vector<cow_String>& arguments,
      const uti_Redirection& redirection, const std::map<cow_String, cow_String>& environment);

  // Kills and reaps a child still running; closes both pipe ends.
  ~uti_SpawnSourceWithSink() override;

  int Source() const { return m_Source; }  // read end of the child's standard output
  int Sink() const { return m_Sink; }      // write end of the child's standard input
  // Closing the sink gives the child the end of its input.
  void CloseSink();

 private:
  uti_SpawnSourceWithSink(pid_t pid, int source, int sink) : uti_Spawn(pid), m_Source(source), m_Sink(sink) {}

  int m_Source;
  int m_Sink;
};

// A child that shares the caller's standard input and output and its
// process group, with its standard error coming back through a pipe: what
// a relay needs to run a transport program and rewrite its messages.
class uti_SpawnErrorSource : public uti_Spawn {
 public:
  // THROWS nex_TextException as spawnSourceWithSink.
  static std::unique_ptr<uti_SpawnErrorSource> spawnErrorSource(const cow_String& command,
                                                                const cow_String& programPath,
                                                                const std::vector<cow_String>& arguments);
  ~uti_SpawnErrorSource() override;
  int Source() const { return m_Source; }  // read end of the child's standard error

 private:
  uti_SpawnErrorSource(pid_t pid, int source) : uti_Spawn(pid), m_Source(source) {}
  int m_Source;
};

#endif  // QVT_FOUNDATION_UTI_SPAWN_H
