// tqnfel.exe: the network relay of qvt remote files. It invents no network
// protocol: it runs the file assistant on the remote host through OpenSSH
// and lets ssh carry the assistant's standard input and output, which are
// this program's own. ssh's messages come back on standard error: lines
// the assistant wrote ("assistant,", "KELVOR Error:") pass unchanged, every
// other line, and this program's own failures, begin "tqnfel,".
//
// Usage (as the library starts it):
//   tqnfel.exe -cpu HOST -private -port PORT qvtT_FileAssistant.exe PATH [-scratch]
// Runs: ssh -p PORT -T -o BatchMode=yes [-F $TQNFEL_SSH_CONFIG] HOST ASSISTANT PATH [-scratch]
// where ASSISTANT is $TQNFEL_REMOTE_ASSISTANT when set (a path on the remote
// host), else qvtT_FileAssistant.exe found along the remote PATH. ssh uses
// the user's keys and known hosts; batch mode never prompts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "omi_Swapper.h"
#include "uti_Spawn.h"
#include "utl_BinStream.h"

namespace {
constexpr int kSshExitLimitMs = 10000;  // after its error output ended

int Fail(const std::string& message) {
  std::fprintf(stderr, "tqnfel, %s\n", message.c_str());
  std::fflush(stderr);
  return 1;
}

// One argument for the remote shell, which splits the command ssh sends.
std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool PassesUnchanged(const std::string& line) {
  return line.rfind("assistant,", 0) == 0 || line.rfind("KELVOR Error:", 0) == 0 ||
         line.rfind("tqnfeld,", 0) == 0;
}

struct Arguments {
  std::string host, port, program, path;
  bool scratch = false;
};

bool Parse(int argc, char** argv, Arguments* args) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() != 7 && a.size() != 8) return false;
  if (a[0] != "-cpu" || a[2] != "-private" || a[3] != "-port") return false;
  if (a.size() == 8 && a[7] != "-scratch") return false;
  args->host = a[1];
  args->port = a[4];
  args->program = a[5];
  args->path = a[6];
  args->scratch = a.size() == 8;
  if (args->host.empty() || args->host[0] == '-') return false;
  return !args->port.empty() && args->port.find_first_not_of("0123456789") == std::string::npos;
}
}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!Parse(argc, argv, &args))
    return Fail("usage: tqnfel.exe -cpu HOST -private -port PORT qvtT_FileAssistant.exe PATH [-scratch]");
  const char* remoteAssistant = std::getenv("TQNFEL_REMOTE_ASSISTANT");
  std::string command =
      Quote(remoteAssistant != nullptr && *remoteAssistant ? remoteAssistant : args.program);
  command += " " + Quote(args.path);
  if (args.scratch) command += " -scratch";

  std::vector<std::string> sshArgs = {"-p", args.port, "-T", "-o", "BatchMode=yes"};
  if (const char* config = std::getenv("TQNFEL_SSH_CONFIG")) {
    sshArgs.push_back("-F");
    sshArgs.push_back(config);
  }
  sshArgs.push_back(args.host);
  sshArgs.push_back(command);

  const std::string ssh = uti_Spawn::FindCommand("ssh");
  if (ssh.empty()) return Fail("cannot find the OpenSSH client ssh on PATH");
  try {
    auto child = uti_SpawnErrorSource::spawnErrorSource("ssh", ssh, sshArgs);
    utl_BinIStream errors(child->Source(), EndianLittle, -1);
    std::string line;
    for (bool more = true; more;) {
      char c = '\n';
      try {
        c = static_cast<char>(errors.ReadUChar());
      } catch (const utl_BinStreamEOF&) {
        more = false;
      }
      if (c != '\n') {
        line += c;
        continue;
      }
      if (!line.empty()) {
        const std::string out = PassesUnchanged(line) ? line : "tqnfel, ssh: " + line;
        std::fprintf(stderr, "%s\n", out.c_str());
        std::fflush(stderr);
      }
      line.clear();
    }
    const int status = child->Reap(kSshExitLimitMs);
    if (status == 255) return Fail("ssh could not reach " + args.host + " on port " + args.port);
    if (status < 0) return Fail("ssh did not end; it was stopped");
    return status;
  } catch (const nex_Exception& e) {
    return Fail(e.AsString());
  }
}
