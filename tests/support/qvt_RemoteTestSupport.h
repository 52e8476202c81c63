// For tests of remote files: the build's assistant where the library looks
// for it, the page cache rebuilt with chosen keys, fake assistant scripts.
#ifndef QVT_TESTS_SUPPORT_QVT_REMOTETESTSUPPORT_H
#define QVT_TESTS_SUPPORT_QVT_REMOTETESTSUPPORT_H

#include <memory>
#include <string>

#include "qvt_ChildProcess.h"
#include "qvt_TestSupport.h"

namespace qvt_test {

// While alive: PATH starts with the build's bin/, KEV_PATH is its kev/, QVT_ASSISTANT_CONFIG an empty folder,
// and the page cache is built with these keys (0: absent); without keys again at the end.
class RemoteEnvironment {
 public:
  explicit RemoteEnvironment(int pageKiB = 0, int limitMiB = 0);
  ~RemoteEnvironment();
  const std::string& ConfigDir() const { return m_Config.Path(); }
  // Writes a file into the assistant's configuration folder with mode.
  void Configure(const std::string& name, const std::string& text, int mode = 0600) const;
  // Puts a shell script (body) named qvtT_FileAssistant.exe first on PATH.
  void FakeAssistant(const std::string& body);
  static std::string Url(const std::string& path) { return "file://localhost" + path; }

 private:
  ScratchDir m_Config;
  ScratchDir m_Fake;
  std::unique_ptr<ScopedEnv> m_Path, m_Kev, m_ConfigEnv, m_FakePath;  // restored in reverse
};

// Fake assistant pieces: the handshake with an empty password; one size
// request answered with status 0 and size 4096; one page request taken.
inline constexpr char kShHandshake[] =
    "dd bs=1 count=1 status=none >/dev/null\nprintf '\\001\\000'\ndd bs=1 count=6 status=none >/dev/null\n";
inline constexpr char kShSizeReply[] =
    "dd bs=1 count=1 status=none >/dev/null\nprintf '\\001\\000\\000\\020\\000\\000\\000\\000\\000\\000'\n";
inline constexpr char kShTakePageRequest[] = "dd bs=1 count=15 status=none >/dev/null\n";

// Sets the keys "nodb_page_size" and "nodb_cache_limit" ("": absent) and
// destroys the page cache, so that its next use builds it with them.
void ResetPageCache(const std::string& pageKiB, const std::string& limitMiB);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_REMOTETESTSUPPORT_H
