// Helpers every subcommand uses: one-line messages and number arguments.
#include "qvtdb_Tool.h"

#include <cctype>
#include <limits>

std::string qvtdb_OneLine(const std::string& message) {
  std::string result;
  std::size_t start = 0;
  while (start <= message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    std::size_t first = start;
    std::size_t last = end;
    while (first < last && std::isspace(static_cast<unsigned char>(message[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(message[last - 1]))) --last;
    if (last > first) {
      if (!result.empty()) result += ' ';
      result.append(message, first, last - first);
    }
    start = end + 1;
  }
  return result;
}

std::int64_t qvtdb_ParseNumber(const std::string& text, const char* what, std::int64_t maximum) {
  std::size_t i = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) throw qvtdb_UsageError(std::string("not a valid ") + what + ": \"" + text + "\"");
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int digit;
    if (std::isdigit(c)) {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(c)) {
      digit = std::tolower(c) - 'a' + 10;
    } else {
      throw qvtdb_UsageError(std::string("not a valid ") + what + ": \"" + text + "\"");
    }
    if (value > (maximum - digit) / base) {
      throw qvtdb_UsageError(std::string(what) + " out of range: \"" + text + "\"");
    }
    value = value * base + digit;
  }
  return value;
}

std::string qvtdb_Count(std::int64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string qvtdb_StructureNote(const std::string& file, std::int64_t problems) {
  return "qvtdb: " + file + ": " + qvtdb_Count(problems, "structural problem", "structural problems") +
         "; run 'qvtdb check " + file + "' for the list";
}
