// Command-driven child processes for the reader and writer tests.
#include "qvt_StatusChild.h"

#include <cstdio>
#include <string>

namespace qvt_test {

int ServeCommands(const std::function<std::string(const std::string&)>& handler) {
  char line[256];
  int n = 0;
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::string command(line);
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) command.pop_back();
    const std::string answer = command == "quit" ? "quit" : handler(command);
    std::printf("%d:%s\n", ++n, answer.c_str());
    std::fflush(stdout);
    if (answer == "quit") break;
  }
  return 0;
}

CommandedChild::CommandedChild(std::function<std::string(const std::string&)> handler,
                               std::function<void()> setup, const std::map<std::string, std::string>& env)
    : m_Child(std::make_unique<ChildProcess>(
          [handler, setup] {
            if (setup) setup();
            return ServeCommands(handler);
          },
          env)) {}

std::string CommandedChild::Ask(const std::string& command, int timeoutMs) {
  // Every earlier answer was read whole, so this one starts where the
  // output ends now.
  const std::string& out = m_Child->OutSoFar();
  const std::size_t start = out.size();
  const std::string tag = std::to_string(++m_Asked) + ":";
  if (!m_Child->WriteStdin(command + "\n")) return "<no answer> " + m_Child->ErrSoFar();
  // A text the child never writes: each call only collects output.
  const std::string never(1, '\0');
  for (int waited = 0; out.find('\n', start) == std::string::npos && waited < timeoutMs; waited += 10) {
    (void)m_Child->WaitForStdout(never, 10);
  }
  const std::size_t end = out.find('\n', start);
  if (end == std::string::npos || out.compare(start, tag.size(), tag) != 0) {
    return "<no answer> " + out.substr(start) + " " + m_Child->ErrSoFar();
  }
  return out.substr(start + tag.size(), end - start - tag.size());
}

ChildResult CommandedChild::Finish() {
  (void)Ask("quit");
  return m_Child->Wait();
}

}  // namespace qvt_test
