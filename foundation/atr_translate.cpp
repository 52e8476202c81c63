// Positional and sequential placeholder substitution for messages.
#include "atr_translate.h"

#include <cstdio>

void atr_Translation::Substitute(int position, const cow_String& value) {
  Value v;
  v.kind = Value::kText;
  v.text = value;
  m_Values[position] = v;
}

void atr_Translation::Substitute(int position, int value) { Substitute(position, static_cast<std::int64_t>(value)); }

void atr_Translation::Substitute(int position, std::int64_t value) {
  Value v;
  v.kind = Value::kInt;
  v.integer = value;
  m_Values[position] = v;
}

void atr_Translation::Substitute(int position, double value) {
  Value v;
  v.kind = Value::kDouble;
  v.real = value;
  m_Values[position] = v;
}

namespace {
bool IsConversion(char c) { return c == 's' || c == 'd' || c == 'f' || c == 'x' || c == 'u'; }
}  // namespace

cow_String atr_Translation::Result() const {
  cow_String out;
  out.reserve(m_Format.size() + 32);
  int next = 0;
  const size_t n = m_Format.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = m_Format[i];
    if (c != '%' || i + 1 >= n) {
      out += c;
      continue;
    }
    if (m_Format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Either "%N$<conv>" or "%<conv>"; anything else is copied literally.
    size_t j = i + 1;
    int position = 0;
    while (j < n && m_Format[j] >= '0' && m_Format[j] <= '9') position = position * 10 + (m_Format[j++] - '0');
    char conv = 0;
    if (position > 0 && j + 1 < n && m_Format[j] == '$' && IsConversion(m_Format[j + 1])) {
      conv = m_Format[j + 1];
      j += 2;
    } else if (j == i + 1 && IsConversion(m_Format[j])) {
      conv = m_Format[j];
      position = ++next;
      j += 1;
    } else {
      out += c;
      continue;
    }
    i = j - 1;
    auto it = m_Values.find(position);
    if (it == m_Values.end()) continue;
    const Value& v = it->second;
    char buf[400];  // "%f" of the largest double needs 317 bytes
    switch (v.kind) {
      case Value::kText:
        out += v.text;
        break;
      case Value::kInt:
        if (conv == 'x')
          std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v.integer));
        else if (conv == 'f')
          std::snprintf(buf, sizeof buf, "%f", static_cast<double>(v.integer));
        else
          std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v.integer));
        out += buf;
        break;
      case Value::kDouble:
        if (conv == 'd')
          std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v.real));
        else
          std::snprintf(buf, sizeof buf, "%f", v.real);
        out += buf;
        break;
    }
  }
  return out;
}

atr_Translation atr_translate(const char* format) { return atr_Translation(format); }
