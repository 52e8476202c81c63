// POSIX versions of the tool's operating-system services.
#include "qvtdb_Platform.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "qvtdb_Tool.h"

extern char** environ;

namespace {
volatile std::sig_atomic_t g_Interrupted = 0;

void OnInterrupt(int) { g_Interrupted = 1; }
}  // namespace

bool qvtdb_StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string qvtdb_FileIdentity(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::string();
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

int qvtdb_StartSelf(const std::vector<std::string>& arguments) {
  const char* self = "/proc/self/exe";
  std::vector<std::string> words;
  words.push_back("qvtdb");
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  pid_t child = -1;
  const int error = posix_spawn(&child, self, nullptr, nullptr, argv.data(), environ);
  if (error != 0) {
    throw qvtdb_Failure(std::string("cannot start a second qvtdb process: ") + std::strerror(error));
  }
  return static_cast<int>(child);
}

bool qvtdb_StopChild(int child) { return kill(static_cast<pid_t>(child), SIGTERM) == 0; }

int qvtdb_WaitChild(int child) {
  int status = 0;
  while (waitpid(static_cast<pid_t>(child), &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 127;
}

void qvtdb_CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

bool qvtdb_Interrupted() { return g_Interrupted != 0; }
