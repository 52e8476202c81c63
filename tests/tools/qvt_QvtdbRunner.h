// qvtdb run as a child process for the tool's tests, helpers on its text, and what every tool test uses.
#ifndef QVT_TESTS_TOOLS_QVT_QVTDBRUNNER_H
#define QVT_TESTS_TOOLS_QVT_QVTDBRUNNER_H

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include <gtest/gtest.h>

namespace qvt_test {

// A child body that becomes the qvtdb built beside these tests, in cwd when given.
inline std::function<int()> QvtdbProcess(const std::vector<std::string>& arguments,
                                         const std::string& cwd = "") {
  return [arguments, cwd]() {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) return 126;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {  // a finding must not pass for status 1
      const std::string old = std::getenv(name) ? std::getenv(name) : "";
      ::setenv(name, (old + (old.empty() ? "" : ":") + "exitcode=86").c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>("qvtdb")};
    for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execv(QVTDB_BINARY, argv.data());
    return 127;
  };
}

// Expects a run that ended by itself (no signal, no timeout) with status.
inline ChildResult EndedWith(int status, ChildResult r) {
  EXPECT_TRUE(r.exited && !r.timedOut && r.exitCode == status)
      << "signal " << r.signal << ", status " << r.exitCode << "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
  return r;
}

// Runs qvtdb, killed after timeoutMs, and expects it to end by itself with status.
inline ChildResult RunEnding(int status, const std::vector<std::string>& arguments, int timeoutMs = 60000,
                             const std::string& cwd = "") {
  SCOPED_TRACE("qvtdb " + ::testing::PrintToString(arguments));
  return EndedWith(status, ChildProcess(QvtdbProcess(arguments, cwd)).Wait(timeoutMs));
}

// The standard output of a run that ends with status and nothing on standard error.
inline std::string OutputOf(const std::vector<std::string>& arguments, int status = 0, int timeoutMs = 60000,
                            const std::string& cwd = "") {
  const ChildResult result = RunEnding(status, arguments, timeoutMs, cwd);
  EXPECT_EQ(result.err, "") << "qvtdb " << ::testing::PrintToString(arguments);
  return result.out;
}

// Whether text holds part; a failure shows the whole text.
inline ::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

inline int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace qvt_test

#endif  // QVT_TESTS_TOOLS_QVT_QVTDBRUNNER_H
