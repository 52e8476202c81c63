// For tests of remote files: the build's assistant and relay put where the
// library looks for them, a fresh assistant configuration folder, the page
// cache rebuilt with chosen keys, and fake assistants written as shell
// scripts that speak (or break) the pipe protocol.
#ifndef QVT_TESTS_SUPPORT_QVT_REMOTETESTSUPPORT_H
#define QVT_TESTS_SUPPORT_QVT_REMOTETESTSUPPORT_H

#include <memory>
#include <string>

#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"

namespace qvt_test {

// While alive: PATH starts with the build's bin/ (the assistant), KEV_PATH
// is the build's kev/ (External/tqnfel/tqnfel.exe), QVT_ASSISTANT_CONFIG
// is an empty folder (no secret, no root) and the page cache is rebuilt
// with the given command-line keys (0: key absent). The cache is rebuilt
// again, without keys, at the end.
class RemoteEnvironment {
 public:
  explicit RemoteEnvironment(int pageKiB = 0, int limitMiB = 0);
  ~RemoteEnvironment();
  const std::string& ConfigDir() const { return m_Config.Path(); }
  // Writes a file into the assistant's configuration folder with mode.
  void Configure(const std::string& name, const std::string& text, int mode = 0600) const;
  // Puts an executable shell script named qvtT_FileAssistant.exe first on
  // PATH; body follows the "#!/bin/sh" line. See the Sh* pieces below.
  void FakeAssistant(const std::string& body);
  static std::string Url(const std::string& path) { return "file://localhost" + path; }

 private:
  ScratchDir m_Config;
  ScratchDir m_Fake;
  std::unique_ptr<ScopedEnv> m_Path, m_Kev, m_ConfigEnv, m_FakePath;  // restored in reverse
};

// Shell pieces for fake assistants (little-endian, as the protocol is):
// take an empty password and agree on the handshake; answer one size
// request with status 0 and a size of 4096; take one page request that
// drops nothing.
extern const char kShHandshake[];
extern const char kShSizeReply[];
extern const char kShTakePageRequest[];

// Sets the command-line keys "nodb_page_size" and "nodb_cache_limit" ("":
// absent) and destroys the process-wide page cache, so that its next use
// builds it with them.
void ResetPageCache(const std::string& pageKiB, const std::string& limitMiB);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_REMOTETESTSUPPORT_H
