// qvtT_FileAssistant.exe: serves one database file, read-only, over its
// standard input and output to the qvt library's remote file, and reports
// its failures on standard error as lines beginning "assistant,".
//
// Usage: qvtT_FileAssistant.exe [-scratch] PATH
//   -scratch  "SCRATCHDIR_RHOST" in PATH stands for this host's scratch
//             folder ($TMPDIR, else /tmp).
// Settings (see assistant_Config.h): $QVT_ASSISTANT_CONFIG or ~/.qvt holds
// "secret" (the password) and "root" (the only folder served).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "assistant_Config.h"
#include "assistant_Server.h"
#include "omi_Swapper.h"
#include "qvt_Database.h"
#include "utl_BinStream.h"

namespace {
int Fail(std::string message) {
  // One line: the library takes the last "assistant," line as the reason.
  for (char& c : message)
    if (c == '\n') c = ' ';
  std::fprintf(stderr, "assistant, %s\n", message.c_str());
  std::fflush(stderr);
  return 1;
}

std::string ScratchPath(std::string path) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  const std::string marker = "SCRATCHDIR_RHOST";
  for (std::size_t at = path.find(marker); at != std::string::npos; at = path.find(marker, at + dir.size()))
    path.replace(at, marker.size(), dir);
  return path;
}
}  // namespace

int main(int argc, char** argv) {
  std::string path;
  bool scratch = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-scratch") {
      scratch = true;
    } else if (path.empty()) {
      path = arg;
    } else {
      return Fail("usage: qvtT_FileAssistant.exe [-scratch] PATH");
    }
  }
  if (path.empty()) return Fail("usage: qvtT_FileAssistant.exe [-scratch] PATH");
  if (scratch) path = ScratchPath(path);
  int counter = 0;
  UTI_QvtInterface_initialize(counter);
  int code = 0;
  try {
    // The client waits with its own bound; this side waits as long as the
    // client keeps the pipe open.
    utl_BinIStream in(0, EndianLittle, -1);
    utl_BinOStream out(1, EndianLittle, -1);
    const unsigned char length = in.ReadUChar();
    std::string password(length, '\0');
    in.ReadBytes(&password[0], length);
    const assistant_Config config = assistant_LoadConfig();
    assistant_CheckPassword(config, password);
    assistant_Server server(assistant_ResolvePath(config, path), in, out);
    server.Run();
  } catch (const utl_BinStreamEOF&) {
    code = Fail("the client closed the connection in the middle of a request");
  } catch (const assistant_Failure& e) {
    code = Fail(e.what());
  } catch (const nex_Exception& e) {
    code = Fail(e.AsString());
  } catch (const std::exception& e) {
    code = Fail(e.what());
  }
  UTI_QvtInterface_finalize(counter);
  return code;
}
