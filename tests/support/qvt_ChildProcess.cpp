// Children forked here, waited for and killed through the library's process handle.
#include "qvt_ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>

#include "qvt_TestSupport.h"
#include "uti_Spawn.h"
#include <sys/resource.h>

namespace qvt_test {

namespace {
// uti_Spawn's bounded reaping, for a child forked here.
struct Forked : uti_Spawn {
  explicit Forked(pid_t pid) : uti_Spawn(pid) {}
};

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Sets name to value, or removes it when value is null.
void SetEnv(const char* name, const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); }

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

ChildProcess::ChildProcess(std::function<int()> body, const std::map<std::string, std::string>& env) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  std::fflush(nullptr);  // nothing buffered in the parent is written twice
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int streams[] = {in[0], out[1], err[1]};
    for (int fd = 0; fd < 3; ++fd) ::dup2(streams[fd], fd);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    int code = 98;
    try {
      for (const auto& kv : env) ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
      code = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: exception: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "child: unknown exception\n");
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  m_Process = std::make_unique<Forked>(pid);
  for (int fd : {in[0], out[1], err[1]}) ::close(fd);
  m_In = in[1];
  m_OutFd = out[0];
  m_ErrFd = err[0];
}

ChildProcess::~ChildProcess() {
  CloseFd(m_In);
  (void)m_Process->Reap(0);
  CloseFd(m_OutFd);
  CloseFd(m_ErrFd);
}

pid_t ChildProcess::Pid() const { return m_Process->ProcessId(); }

bool ChildProcess::WriteStdin(const std::string& text) {
  if (m_In < 0) return false;
  const auto old = std::signal(SIGPIPE, SIG_IGN);  // a child that has gone must not kill the test
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(m_In, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) break;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  std::signal(SIGPIPE, old);
  return done == text.size();
}

bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  for (int fd : {m_OutFd, m_ErrFd})
    if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
  if (n == 0) return false;
  if (::poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[4096];
    const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
    const bool isOut = fds[i].fd == m_OutFd;
    if (got > 0)
      (isOut ? m_Out : m_Err).append(buf, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR)
      CloseFd(isOut ? m_OutFd : m_ErrFd);
  }
  return true;
}

bool ChildProcess::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  while (!done()) {
    const long long left = deadline - NowMs();
    if (left <= 0 || !Pump(static_cast<int>(left))) return done();
  }
  return true;
}

ChildResult ChildProcess::Wait(int timeoutMs) {
  CloseFd(m_In);
  const long long deadline = NowMs() + timeoutMs;
  (void)WaitUntil([this] { return m_OutFd < 0 && m_ErrFd < 0; }, timeoutMs);
  // Reap kills the child once the time left is spent and answers -1, or
  // 128 + the signal that ended it (no program run here exits above 127).
  const int status = m_Process->Reap(static_cast<int>(std::max(0LL, deadline - NowMs())));
  CloseFd(m_OutFd);
  CloseFd(m_ErrFd);
  const bool exited = status >= 0 && status < 128;
  const int signal = status >= 128 ? status - 128 : status < 0 ? SIGKILL : 0;
  return ChildResult{exited, exited ? status : -1, signal, status < 0, m_Out, m_Err};
}

ChildResult RunChild(std::function<int()> body, const std::string& input,
                     const std::map<std::string, std::string>& env, int timeoutMs) {
  ChildProcess child(std::move(body), env);
  if (!input.empty()) child.WriteStdin(input);
  return child.Wait(timeoutMs);
}

ChildResult RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                       int timeoutMs) {
  const auto exec = [&argv] {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    return 127;
  };
  return RunChild(exec, "", env, timeoutMs);
}

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  const int file = m_File.OpenIfPresent();
  m_Saved = ::dup(2);
  if (file < 0 || m_Saved < 0 || ::dup2(file, 2) < 0) throw std::runtime_error("cannot capture stderr");
  ::close(file);
}

std::string StderrCapture::Stop() {
  if (m_Saved < 0) return m_Text;
  std::fflush(stderr);
  ::dup2(m_Saved, 2);
  CloseFd(m_Saved);
  const std::vector<unsigned char> bytes = ReadAll(m_File.Name());
  return m_Text.assign(bytes.begin(), bytes.end());
}

bool DropRootPrivileges() {
  const uid_t nobody = 65534;
  return ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0);
}

bool LimitFileSize(long long bytes) {
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_Name(name) {
  if (const char* old = std::getenv(name)) m_Old = std::make_unique<const std::string>(old);
  SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(m_Name.c_str(), m_Old ? m_Old->c_str() : nullptr); }

CommandedChild::CommandedChild(std::function<std::string(const std::string&)> handler) {
  m_Child = std::make_unique<ChildProcess>([handler] {
    std::string command;
    for (int n = 1; std::getline(std::cin, command); ++n) {
      const std::string answer = command == "quit" ? "quit" : handler(command);
      std::printf("%d:%s\n", n, answer.c_str());
      std::fflush(stdout);
      if (answer == "quit") break;
    }
    return 0;
  });
}

std::string CommandedChild::Ask(const std::string& command, int timeoutMs) {
  // Every earlier answer was read whole, so this one starts where the output ends now.
  const std::string& out = m_Child->OutSoFar();
  const std::size_t start = out.size();
  const std::string tag = std::to_string(++m_Asked) + ":";
  if (!m_Child->WriteStdin(command + "\n")) return "<no answer> " + m_Child->ErrSoFar();
  (void)m_Child->WaitUntil([&] { return out.find('\n', start) != std::string::npos; }, timeoutMs);
  const std::size_t end = out.find('\n', start);
  if (end == std::string::npos || out.compare(start, tag.size(), tag) != 0)
    return "<no answer> " + out.substr(start) + " " + m_Child->ErrSoFar();
  return out.substr(start + tag.size(), end - start - tag.size());
}

ChildResult CommandedChild::Finish() {
  (void)Ask("quit");
  return m_Child->Wait();
}

}  // namespace qvt_test
