// POSIX child processes: posix_spawn with its file actions for the standard
// streams, pipes made close-on-exec, and waitpid polled in short steps for
// bounded waits.
#include "uti_Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "utl_File.h"
#include "utl_PathFinder.h"
#include <sys/wait.h>

extern char** environ;

namespace {
// A child that ends at once (most do, once their input closes) is reaped
// after a short first pause; the pauses double up to the longest.
constexpr long kFirstPauseUs = 100;
constexpr long kLongestPauseUs = 5000;
constexpr int kPipeBytes = 1 << 20;

void SleepUs(long us) {
  struct timespec t;
  t.tv_sec = us / 1000000;
  t.tv_nsec = (us % 1000000) * 1000L;
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

[[noreturn]] void ThrowSpawnError(const cow_String& program, int err) {
  NEX_THROW_TEXT(atr_Format("Cannot run %s: %s", program, std::strerror(err)));
}

}  // namespace

cow_String uti_Spawn::FindCommand(const cow_String& name) {
  if (name.empty()) return cow_String();
  if (name.find('/') != cow_String::npos) return utl_PathFinder::IsExecutableFile(name) ? name : cow_String();
  return utl_PathFinder::getSubDirPath("PATH", cow_String(), name);
}

uti_Spawn::~uti_Spawn() = default;

bool uti_Spawn::TryWait() {
  if (m_Reaped) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(m_Pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  m_Reaped = true;
  if (r < 0) {
    m_Result = -1;  // not our child any more (reaped elsewhere)
  } else if (WIFEXITED(status)) {
    m_Result = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    m_Result = 128 + WTERMSIG(status);
  }
  return true;
}

bool uti_Spawn::IsRunning() { return !TryWait(); }

void uti_Spawn::KillGroup() {
  if (m_Reaped) return;
  if (::kill(-m_Pid, SIGKILL) != 0) (void)::kill(m_Pid, SIGKILL);
}

int uti_Spawn::Reap(int graceMs) {
  long pauseUs = kFirstPauseUs;
  for (long waitedUs = 0; !TryWait(); waitedUs += pauseUs, pauseUs = std::min(2 * pauseUs, kLongestPauseUs)) {
    if (waitedUs >= graceMs * 1000L) {
      KillGroup();
      int status = 0;
      while (::waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
      }
      m_Reaped = true;
      m_Result = -1;
      break;
    }
    SleepUs(pauseUs);
  }
  return m_Result;
}

namespace {
// How the child's three standard streams are set up: a descriptor to put
// in place (or -1 to keep the caller's), and for standard error optionally
// a file to append to.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
  cow_String errFile;
  bool newGroup = true;
};

// Starts programPath; answers the child's pid. Descriptors in
// streams stay open in the caller. THROWS nex_TextException when the
// program cannot be started.
pid_t StartChild(const cow_String& command, const cow_String& programPath,
                 const std::vector<cow_String>& arguments,
                 const std::map<cow_String, cow_String>& environment, const ChildStreams& streams) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(command.c_str()));
  for (const cow_String& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<cow_String> envText;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const cow_String entry(*e);
    if (environment.count(entry.substr(0, entry.find('='))) == 0) envText.push_back(entry);
  }
  for (const auto& kv : environment) envText.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (cow_String& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  // posix_spawn starts the child without copying this process's page
  // tables, which fork does and which costs milliseconds in a process that
  // holds a few hundred megabytes; a failed exec comes back as its result.
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  int err = ::posix_spawnattr_init(&attributes);
  if (err != 0) ThrowSpawnError(programPath, err);
  err = ::posix_spawn_file_actions_init(&actions);
  if (err != 0) {
    ::posix_spawnattr_destroy(&attributes);
    ThrowSpawnError(programPath, err);
  }
  sigset_t none, pipeOnly;
  sigemptyset(&none);
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (streams.newGroup) flags |= POSIX_SPAWN_SETPGROUP;
  const auto ok = [&err](int result) {
    if (err == 0) err = result;
  };
  ok(::posix_spawnattr_setflags(&attributes, flags));
  ok(::posix_spawnattr_setsigmask(&attributes, &none));
  ok(::posix_spawnattr_setsigdefault(&attributes, &pipeOnly));
  ok(::posix_spawnattr_setpgroup(&attributes, 0));
  if (streams.in >= 0) ok(::posix_spawn_file_actions_adddup2(&actions, streams.in, 0));
  if (streams.out >= 0) ok(::posix_spawn_file_actions_adddup2(&actions, streams.out, 1));
  if (streams.err >= 0) ok(::posix_spawn_file_actions_adddup2(&actions, streams.err, 2));
  if (!streams.errFile.empty())
    ok(::posix_spawn_file_actions_addopen(&actions, 2, streams.errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                          0600));
  pid_t pid = -1;
  if (err == 0)
    err = ::posix_spawn(&pid, programPath.c_str(), &actions, &attributes, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (err != 0) ThrowSpawnError(programPath, err);
  return pid;
}

// Two close-on-exec pipes' worth of descriptors, closed on every way out
// unless released.
struct Pipe {
  int fd[2] = {-1, -1};
  explicit Pipe(const cow_String& program) {
    if (::pipe2(fd, O_CLOEXEC) != 0) ThrowSpawnError(program, errno);
  }
  ~Pipe() {
    CloseFd(fd[0]);
    CloseFd(fd[1]);
  }
  int Release(int end) {
    const int kept = fd[end];
    fd[end] = -1;
    return kept;
  }
};
}  // namespace

std::unique_ptr<uti_SpawnSourceWithSink> uti_SpawnSourceWithSink::spawnSourceWithSink(
    const cow_String& command, const cow_String& programPath, const std::vector<cow_String>& arguments,
    const uti_Redirection& redirection, const std::map<cow_String, cow_String>& environment) {
  Pipe toChild(programPath), fromChild(programPath);
  // Replies carry whole pages: a pipe that holds one costs far fewer
  // switches between the two processes. Kept at the default where the
  // system refuses.
  (void)::fcntl(fromChild.fd[0], F_SETPIPE_SZ, kPipeBytes);
  ChildStreams streams;
  streams.in = toChild.fd[0];
  streams.out = fromChild.fd[1];
  streams.errFile = redirection.stderrFile;
  const pid_t pid = StartChild(command, programPath, arguments, environment, streams);
  return std::unique_ptr<uti_SpawnSourceWithSink>(
      new uti_SpawnSourceWithSink(pid, fromChild.Release(0), toChild.Release(1)));
}

std::unique_ptr<uti_SpawnErrorSource> uti_SpawnErrorSource::spawnErrorSource(
    const cow_String& command, const cow_String& programPath, const std::vector<cow_String>& arguments) {
  Pipe fromChild(programPath);
  ChildStreams streams;
  streams.err = fromChild.fd[1];
  streams.newGroup = false;
  const pid_t pid = StartChild(command, programPath, arguments, {}, streams);
  return std::unique_ptr<uti_SpawnErrorSource>(new uti_SpawnErrorSource(pid, fromChild.Release(0)));
}

uti_SpawnErrorSource::~uti_SpawnErrorSource() {
  CloseFd(m_Source);
  if (IsRunning()) (void)Reap(0);
}

uti_SpawnSourceWithSink::~uti_SpawnSourceWithSink() {
  CloseFd(m_Sink);
  CloseFd(m_Source);
  if (IsRunning()) (void)Reap(0);
}

void uti_SpawnSourceWithSink::CloseSink() { CloseFd(m_Sink); }
