// A child process driven one command line at a time, so that a test can
// hold a writer in any state while it checks a reader.
#ifndef QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
#define QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H

#include <functional>
#include <memory>
#include <string>

#include "qvt_ChildProcess.h"

namespace qvt_test {

class CommandedChild {
 public:
  // In a child: answers each line of standard input with handler(line) as
  // "<n>:<answer>" (n from 1) until the line "quit" or the end of input.
  explicit CommandedChild(std::function<std::string(const std::string&)> handler);
  // The child's answer to command, or "<no answer>" and what it wrote when none came in time.
  std::string Ask(const std::string& command, int timeoutMs = 20000);
  // Sends "quit" and reaps the child.
  ChildResult Finish();

 private:
  std::unique_ptr<ChildProcess> m_Child;
  int m_Asked = 0;
};

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
