// Natural-order comparison and the process-wide ordering switch.
#include "cow_String.h"

#include <atomic>
#include <cctype>
#include <cstring>

namespace {
std::atomic<bool> g_naturalOrder{false};

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Compares two digit runs without leading zeros as numbers: the longer run is
// larger; equal lengths compare by the first differing digit.
int CompareNumbers(const char*& a, const char*& b) {
  const char* sa = a;
  const char* sb = b;
  while (IsDigit(*a)) ++a;
  while (IsDigit(*b)) ++b;
  const size_t la = static_cast<size_t>(a - sa);
  const size_t lb = static_cast<size_t>(b - sb);
  if (la != lb) return la < lb ? -1 : 1;
  const int c = std::memcmp(sa, sb, la);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
}  // namespace

bool atr_getNaturalOrder() { return g_naturalOrder.load(); }
void atr_setNaturalOrder(bool on) { g_naturalOrder.store(on); }

int atr_strnatcmp(const char* a, const char* b) {
  for (;;) {
    while (IsSpace(*a)) ++a;
    while (IsSpace(*b)) ++b;
    if (IsDigit(*a) && IsDigit(*b)) {
      while (*a == '0' && IsDigit(a[1])) ++a;
      while (*b == '0' && IsDigit(b[1])) ++b;
      const int c = CompareNumbers(a, b);
      if (c != 0) return c;
      continue;
    }
    const unsigned char ca = static_cast<unsigned char>(*a);
    const unsigned char cb = static_cast<unsigned char>(*b);
    if (ca == 0 && cb == 0) return 0;
    if (ca != cb) return ca < cb ? -1 : 1;
    ++a;
    ++b;
  }
}

bool cow_StringLess::operator()(const cow_String& a, const cow_String& b) const {
  if (atr_getNaturalOrder()) {
    const int c = atr_strnatcmp(a.c_str(), b.c_str());
    if (c != 0) return c < 0;
  }
  return a < b;  // std::string compares bytes as unsigned char
}
