// Runs the qvtdb program as a separate process and collects what it wrote
// and how it ended, for the tests of the tool; and a few helpers on its text.
#ifndef QVT_TESTS_TOOLS_QVT_QVTDBRUNNER_H
#define QVT_TESTS_TOOLS_QVT_QVTDBRUNNER_H

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "qvt_ChildProcess.h"
#include <gtest/gtest.h>

namespace qvt_test {

// Exit status of a qvtdb built with the sanitizers when they find a fault,
// so that it never passes for status 1, "a problem found".
constexpr int kSanitizerExit = 86;

// The body of a child process that becomes qvtdb with arguments, in the
// folder cwd when it is not empty.
inline std::function<int()> QvtdbProcess(const std::vector<std::string>& arguments,
                                         const std::string& cwd = "") {
  const std::string binary = QVTDB_BINARY;  // the program the build made beside these tests
  return [binary, arguments, cwd]() {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) return 126;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
      const char* old = std::getenv(name);
      const std::string options = (old && *old ? std::string(old) + ":" : std::string()) +
                                  "exitcode=" + std::to_string(kSanitizerExit);
      ::setenv(name, options.c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>("qvtdb")};
    for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    return 127;
  };
}

// Runs qvtdb with arguments; a run longer than timeoutMs is killed and
// reported as timed out.
inline ChildResult RunQvtdb(const std::vector<std::string>& arguments, int timeoutMs = 60000,
                            const std::string& cwd = "") {
  return ChildProcess(QvtdbProcess(arguments, cwd)).Wait(timeoutMs);
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

// A run that ended by itself (no signal, no timeout) with this status.
inline ::testing::AssertionResult Ended(const ChildResult& r, int status) {
  if (r.exited && !r.timedOut && r.exitCode == status) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "signal " << r.signal << ", status " << r.exitCode << "\nstdout:\n"
                                       << r.out << "\nstderr:\n"
                                       << r.err;
}

}  // namespace qvt_test

#endif  // QVT_TESTS_TOOLS_QVT_QVTDBRUNNER_H
