// The assistant's two settings, read from files in its configuration folder
// ($QVT_ASSISTANT_CONFIG, else $HOME/.qvt):
//   secret  the password a client must send; the file must be a regular
//           file that only its owner may read or write (mode 600 or 400).
//           Without it only an empty password is accepted.
//   root    a folder; only files inside it (after resolving ".." and
//           symbolic links) are served. Without it, whatever this user may
//           read is served.
#ifndef QVT_TOOLS_ASSISTANT_CONFIG_H
#define QVT_TOOLS_ASSISTANT_CONFIG_H

#include <stdexcept>
#include <string>

// A refusal; its text goes to standard error after "assistant, ".
struct assistant_Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct assistant_Config {
  bool hasSecret = false;
  std::string secret;
  bool hasRoot = false;
  std::string root;  // canonical
};

// THROWS assistant_Failure when a settings file exists but is unusable.
assistant_Config assistant_LoadConfig();
// Compares in time independent of where the texts differ. THROWS
// assistant_Failure when password is not the configured one.
void assistant_CheckPassword(const assistant_Config& config, const std::string& password);
// The canonical path of the file to serve. THROWS assistant_Failure when it
// does not exist or lies outside the root.
std::string assistant_ResolvePath(const assistant_Config& config, const std::string& path);

#endif  // QVT_TOOLS_ASSISTANT_CONFIG_H
