// Command-line keys, read at first use from /proc/self/cmdline.
#include "utl_CommandLine.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "atr_translate.h"
#include "nex_Exception.h"

namespace {
std::vector<cow_String> ProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<cow_String> arguments;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  if (!arguments.empty()) arguments.erase(arguments.begin());  // the program
  return arguments;
}
}  // namespace

utl_CommandLine::utl_CommandLine() { Set(ProcessArguments()); }

utl_CommandLine& utl_CommandLine::Instance() {
  static utl_CommandLine instance;
  return instance;
}

void utl_CommandLine::Set(int argc, const char* const* argv) {
  std::vector<cow_String> arguments;
  for (int i = 1; i < argc && argv != nullptr; ++i)
    if (argv[i] != nullptr) arguments.emplace_back(argv[i]);
  Set(arguments);
}

void utl_CommandLine::Set(const std::vector<cow_String>& arguments) {
  m_Values.clear();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const cow_String& arg = arguments[i];
    const bool dashed = !arg.empty() && arg[0] == '-';
    const std::size_t keyStart = arg.compare(0, 2, "--") == 0 ? 2 : (dashed ? 1 : 0);
    const std::size_t equals = arg.find('=', keyStart);
    if (equals != cow_String::npos) {
      if (equals > keyStart) m_Values[arg.substr(keyStart, equals - keyStart)] = arg.substr(equals + 1);
      continue;
    }
    if (!dashed || keyStart == arg.size()) continue;
    const cow_String key = arg.substr(keyStart);
    if (i + 1 < arguments.size() && (arguments[i + 1].empty() || arguments[i + 1][0] != '-')) {
      m_Values[key] = arguments[++i];
    } else {
      m_Values[key] = cow_String();
    }
  }
}

void utl_CommandLine::SetValue(const cow_String& key, const cow_String& value) { m_Values[key] = value; }
void utl_CommandLine::Remove(const cow_String& key) { m_Values.erase(key); }
void utl_CommandLine::Clear() { m_Values.clear(); }

bool utl_CommandLine::IsMember(const cow_String& key) const { return m_Values.count(key) != 0; }

cow_String utl_CommandLine::ConstGetValue(const cow_String& key) const {
  const auto it = m_Values.find(key);
  if (it == m_Values.end()) NEX_THROW_TEXT(atr_Format("***ERROR: Command line has no key %s.", key));
  return it->second;
}

int utl_CommandLine::ConstGetValueAsInt(const cow_String& key) const {
  const cow_String text = ConstGetValue(key);
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  const bool digitsOnly = !text.empty() && end == begin + text.size() && !std::isspace(static_cast<unsigned char>(text[0]));
  if (!digitsOnly || errno == ERANGE || value < INT_MIN || value > INT_MAX)
    NEX_THROW_TEXT(atr_Format("***ERROR: Command line key %s has no integer value: %s.", key, text));
  return static_cast<int>(value);
}
