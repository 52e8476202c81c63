// A child process driven one command at a time: the parent sends a line on
// the child's standard input and waits for the numbered answer line, so a
// test can hold a writer in any state while it checks a reader.
#ifndef QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
#define QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "qvt_ChildProcess.h"

namespace qvt_test {

// Child side: answers every line read from standard input with
// handler(line) until handler answers "quit" or input ends; each answer goes
// out as "<n>:<answer>\n", n counting commands from 1. Answers 0.
int ServeCommands(const std::function<std::string(const std::string&)>& handler);

class CommandedChild {
 public:
  // Runs ServeCommands(handler) in a child, after setup (which may answer
  // nothing; it runs in the child before the first command).
  explicit CommandedChild(std::function<std::string(const std::string&)> handler,
                          std::function<void()> setup = nullptr,
                          const std::map<std::string, std::string>& env = {});
  // Sends command and answers the child's answer, or "<no answer>" with the
  // child's standard error when none came within timeoutMs.
  std::string Ask(const std::string& command, int timeoutMs = 20000);
  // Sends "quit" and reaps the child.
  ChildResult Finish();

 private:
  std::unique_ptr<ChildProcess> m_Child;
  int m_Asked = 0;
};

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
