// Environment and fake assistants for the remote file tests.
#include "qvt_RemoteTestSupport.h"

#include <cstdlib>
#include <fstream>

#include "qvt_FileCache.h"
#include "utl_CommandLine.h"
#include <sys/stat.h>

namespace qvt_test {

namespace {
std::string BuildDir(const char* sub) {
  const char* dir = std::getenv("QVT_TEST_BINARY_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/" + sub;
}
}  // namespace

void ResetPageCache(const std::string& pageKiB, const std::string& limitMiB) {
  utl_CommandLine& commandLine = utl_CommandLine::Instance();
  commandLine.Remove("nodb_page_size");
  commandLine.Remove("nodb_cache_limit");
  if (!pageKiB.empty()) commandLine.SetValue("nodb_page_size", pageKiB);
  if (!limitMiB.empty()) commandLine.SetValue("nodb_cache_limit", limitMiB);
  qvt_FileCache::Finalize();
}

RemoteEnvironment::RemoteEnvironment(int pageKiB, int limitMiB) {
  const char* path = std::getenv("PATH");
  m_Path =
      std::make_unique<ScopedEnv>("PATH", (BuildDir("bin") + ":" + (path ? path : "/usr/bin:/bin")).c_str());
  m_Kev = std::make_unique<ScopedEnv>("KEV_PATH", BuildDir("kev").c_str());
  m_ConfigEnv = std::make_unique<ScopedEnv>("QVT_ASSISTANT_CONFIG", m_Config.Path().c_str());
  ResetPageCache(pageKiB != 0 ? std::to_string(pageKiB) : "", limitMiB != 0 ? std::to_string(limitMiB) : "");
}

RemoteEnvironment::~RemoteEnvironment() { ResetPageCache("", ""); }

void RemoteEnvironment::Configure(const std::string& name, const std::string& text, int mode) const {
  const std::string file = m_Config.File(name);
  std::ofstream(file) << text;
  ::chmod(file.c_str(), static_cast<mode_t>(mode));
}

void RemoteEnvironment::FakeAssistant(const std::string& body) {
  const std::string file = m_Fake.File("qvtT_FileAssistant.exe");
  std::ofstream(file) << "#!/bin/sh\n" << body;
  ::chmod(file.c_str(), 0755);
  const char* path = std::getenv("PATH");
  m_FakePath = std::make_unique<ScopedEnv>("PATH", (m_Fake.Path() + ":" + (path ? path : "")).c_str());
}

}  // namespace qvt_test
