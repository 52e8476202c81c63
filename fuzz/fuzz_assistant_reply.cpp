// Target: the assistant's replies as a remote file parses them. A fake
// assistant (a shell script on PATH under the assistant's name) sends the
// fuzzer's bytes as its whole answer and ends, so that the library meets
// the end of the replies and a closed request pipe; the database is opened
// through the URL and read whole.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "qvt_FuzzRead.h"

namespace {
const std::string g_Reply = qvt_fuzz::ScratchPath("reply.bin");
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string dir = qvt_fuzz::ScratchPath("assistant");
  ::mkdir(dir.c_str(), 0700);
  const std::string script = dir + "/qvtT_FileAssistant.exe";
  std::ofstream(script) << "#!/bin/sh\nexec cat '" << g_Reply << "'\n";
  ::chmod(script.c_str(), 0700);
  const char* path = std::getenv("PATH");
  ::setenv("PATH", (dir + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
  ::setenv("QVT_REMOTE_TIMEOUT", "2", 1);
  std::signal(SIGPIPE, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvt_fuzz::WriteInput(g_Reply, data, size);
  qvt_fuzz::ReadEverything("file://localhost/fuzz.odb");
  return 0;
}
