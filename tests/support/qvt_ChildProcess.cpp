// Forked child processes with piped standard streams, standard-error
// capture and scoped environment variables.
#include "qvt_ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace qvt_test {

namespace {
void MakePipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

ChildProcess::ChildProcess(std::function<int()> body, const std::map<std::string, std::string>& env,
                           const std::vector<std::string>& unset) {
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  std::fflush(nullptr);  // nothing buffered in the parent is written twice
  m_Pid = ::fork();
  if (m_Pid < 0) throw std::runtime_error("fork failed");
  if (m_Pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    int code = 98;
    try {
      for (const auto& kv : env) ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
      for (const auto& name : unset) ::unsetenv(name.c_str());
      code = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: exception: %s\n", e.what());
      code = 98;
    } catch (...) {
      std::fprintf(stderr, "child: unknown exception\n");
      code = 98;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  m_In = in[1];
  m_OutFd = out[0];
  m_ErrFd = err[0];
}

ChildProcess::~ChildProcess() {
  CloseFd(m_In);
  if (!m_Reaped && m_Pid > 0) {
    ::kill(m_Pid, SIGKILL);
    int status;
    while (::waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  CloseFd(m_OutFd);
  CloseFd(m_ErrFd);
}

bool ChildProcess::WriteStdin(const std::string& text) {
  if (m_In < 0) return false;
  // A child that has gone must not kill the test with SIGPIPE.
  struct sigaction ignore {}, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  std::size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = ::write(m_In, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ::sigaction(SIGPIPE, &old, nullptr);
  return ok;
}

void ChildProcess::CloseStdin() { CloseFd(m_In); }

bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  if (m_OutFd >= 0) fds[n++] = {m_OutFd, POLLIN, 0};
  if (m_ErrFd >= 0) fds[n++] = {m_ErrFd, POLLIN, 0};
  if (n == 0) return false;
  const int rc = ::poll(fds, static_cast<nfds_t>(n), timeoutMs);
  if (rc <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[4096];
    const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    const bool isOut = fds[i].fd == m_OutFd;
    if (got <= 0) {
      CloseFd(isOut ? m_OutFd : m_ErrFd);
      continue;
    }
    (isOut ? m_Out : m_Err).append(buf, static_cast<std::size_t>(got));
  }
  return true;
}

bool ChildProcess::WaitFor(const std::string& text, const std::string& stream, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  for (;;) {
    if (stream.find(text) != std::string::npos) return true;
    const long long left = deadline - NowMs();
    if (left <= 0) return false;
    if (!Pump(static_cast<int>(left))) return stream.find(text) != std::string::npos;
  }
}

bool ChildProcess::WaitForStdout(const std::string& text, int timeoutMs) { return WaitFor(text, m_Out, timeoutMs); }
bool ChildProcess::WaitForStderr(const std::string& text, int timeoutMs) { return WaitFor(text, m_Err, timeoutMs); }

ChildResult ChildProcess::Wait(int timeoutMs) {
  ChildResult result;
  CloseStdin();
  const long long deadline = NowMs() + timeoutMs;
  while (m_OutFd >= 0 || m_ErrFd >= 0) {
    const long long left = deadline - NowMs();
    if (left <= 0) {
      result.timedOut = true;
      ::kill(m_Pid, SIGKILL);
      break;
    }
    Pump(static_cast<int>(left));
  }
  int status = 0;
  for (;;) {
    const pid_t rc = ::waitpid(m_Pid, &status, result.timedOut ? 0 : WNOHANG);
    if (rc < 0 && errno == EINTR) continue;
    if (rc == m_Pid) break;
    if (rc < 0) throw std::runtime_error("waitpid failed");
    // Pipes closed but the child still runs (it closed its streams).
    if (NowMs() >= deadline) {
      result.timedOut = true;
      ::kill(m_Pid, SIGKILL);
      continue;
    }
    ::usleep(2000);
  }
  m_Reaped = true;
  CloseFd(m_OutFd);
  CloseFd(m_ErrFd);
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = m_Out;
  result.err = m_Err;
  return result;
}

ChildResult RunChild(std::function<int()> body, const std::string& input,
                     const std::map<std::string, std::string>& env, int timeoutMs) {
  ChildProcess child(std::move(body), env);
  if (!input.empty()) child.WriteStdin(input);
  return child.Wait(timeoutMs);
}

ChildResult RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                       int timeoutMs) {
  return RunChild(
      [&argv] {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        return 127;
      },
      "", env, timeoutMs);
}

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  char name[] = "/tmp/qvt_stderr_XXXXXX";
  m_File = ::mkstemp(name);
  if (m_File < 0) throw std::runtime_error("mkstemp failed");
  ::unlink(name);
  m_Saved = ::dup(2);
  if (m_Saved < 0 || ::dup2(m_File, 2) < 0) throw std::runtime_error("dup failed");
}

StderrCapture::~StderrCapture() { Stop(); }

std::string StderrCapture::Stop() {
  if (m_Saved < 0) return m_Text;
  std::fflush(stderr);
  ::dup2(m_Saved, 2);
  CloseFd(m_Saved);
  const off_t end = ::lseek(m_File, 0, SEEK_END);
  if (end > 0) {
    m_Text.resize(static_cast<std::size_t>(end));
    const ssize_t n = ::pread(m_File, &m_Text[0], m_Text.size(), 0);
    m_Text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  CloseFd(m_File);
  return m_Text;
}

bool DropRootPrivileges() {
  if (::geteuid() != 0) return true;
  const gid_t nobodyGroup = 65534;
  const uid_t nobody = 65534;
  if (::setgroups(0, nullptr) != 0) return false;
  if (::setgid(nobodyGroup) != 0) return false;
  return ::setuid(nobody) == 0;
}

bool LimitFileSize(long long bytes) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  if (::sigaction(SIGXFSZ, &ignore, nullptr) != 0) return false;
  struct rlimit limit;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  limit.rlim_max = static_cast<rlim_t>(bytes);
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_Name(name) {
  if (const char* old = std::getenv(name)) {
    m_HadValue = true;
    m_OldValue = old;
  }
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (m_HadValue)
    ::setenv(m_Name.c_str(), m_OldValue.c_str(), 1);
  else
    ::unsetenv(m_Name.c_str());
}

}  // namespace qvt_test
