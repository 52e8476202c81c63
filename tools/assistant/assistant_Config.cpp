// Loading and applying the assistant's secret and root settings.
#include "assistant_Config.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string ConfigDir() {
  if (const char* dir = std::getenv("QVT_ASSISTANT_CONFIG")) return dir;
  if (const char* home = std::getenv("HOME")) return std::string(home) + "/.qvt";
  return std::string();
}

// The file's text without trailing line ends; false when there is no file.
bool ReadSetting(const fs::path& file, std::string* value) {
  std::error_code error;
  if (!fs::exists(file, error)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) throw assistant_Failure("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  *value = text.str();
  while (!value->empty() && (value->back() == '\n' || value->back() == '\r')) value->pop_back();
  return true;
}
}  // namespace

assistant_Config assistant_LoadConfig() {
  assistant_Config config;
  const std::string dir = ConfigDir();
  if (dir.empty()) return config;
  const fs::path secretFile = fs::path(dir) / "secret";
  std::error_code error;
  const fs::file_status status = fs::status(secretFile, error);
  if (fs::exists(status)) {
    const fs::perms others = fs::perms::group_all | fs::perms::others_all;
    if (!fs::is_regular_file(status) || (status.permissions() & others) != fs::perms::none)
      throw assistant_Failure("the secret file " + secretFile.string() +
                              " must be a regular file only its owner may read (chmod 600)");
    config.hasSecret = ReadSetting(secretFile, &config.secret);
  }
  std::string root;
  if (ReadSetting(fs::path(dir) / "root", &root)) {
    const fs::path canonical = fs::canonical(root, error);
    if (error || !fs::is_directory(canonical))
      throw assistant_Failure("the served root " + root + " is not a folder");
    config.hasRoot = true;
    config.root = canonical.string();
  }
  return config;
}

void assistant_CheckPassword(const assistant_Config& config, const std::string& password) {
  const std::string& expected = config.hasSecret ? config.secret : std::string();
  unsigned char differ = expected.size() == password.size() ? 0 : 1;
  const std::size_t n = std::max(expected.size(), password.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char a = i < expected.size() ? expected[i] : 0;
    const char b = i < password.size() ? password[i] : 0;
    differ |= static_cast<unsigned char>(a ^ b);
  }
  if (differ != 0) throw assistant_Failure("access denied: wrong password");
}

std::string assistant_ResolvePath(const assistant_Config& config, const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  if (error) throw assistant_Failure("cannot open " + path + ": " + error.message());
  if (config.hasRoot) {
    const std::string text = canonical.string();
    const bool inside = text.size() > config.root.size() &&
                        text.compare(0, config.root.size(), config.root) == 0 &&
                        (config.root == "/" || text[config.root.size()] == '/');
    if (!inside) throw assistant_Failure(path + " is outside the served root");
  }
  return canonical.string();
}
