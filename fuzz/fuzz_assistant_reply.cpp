// Target: the assistant's replies. A fake assistant sends the input as its
// whole answer and ends, so the library also meets a closed request pipe.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qvt_FuzzRead.h"
#include "qvt_RemoteTestSupport.h"

static const std::string g_Reply = qvt_fuzz::ScratchPath("reply.bin");

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static qvt_test::RemoteEnvironment remote;
  remote.FakeAssistant("exec cat '" + g_Reply + "'\n");
  ::setenv("QVT_REMOTE_TIMEOUT", "2", 1);
  std::signal(SIGPIPE, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvt_test::WriteAll(g_Reply, {data, data + size});
  qvt_fuzz::ReadEverything("file://localhost/fuzz.odb");
  return 0;
}
