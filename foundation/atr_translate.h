// Message formatting by position. A format holds placeholders "%N$s",
// "%N$d", "%N$f" (argument N) or sequential "%s", "%d", "%f", "%x" (the next
// argument); "%%" is a literal percent sign. There is no translation table,
// so the format text is used as it stands. A placeholder with no value is
// replaced by nothing.
#ifndef QVT_FOUNDATION_ATR_TRANSLATE_H
#define QVT_FOUNDATION_ATR_TRANSLATE_H

#include <cstdint>
#include <map>

#include "cow_String.h"

class atr_Translation {
 public:
  explicit atr_Translation(const char* format) : m_Format(format ? format : "") {}

  void Substitute(int position, const cow_String& value);
  void Substitute(int position, const char* value) { Substitute(position, cow_String(value ? value : "")); }
  void Substitute(int position, int value);
  void Substitute(int position, std::int64_t value);
  void Substitute(int position, double value);

  cow_String Result() const;

 private:
  struct Value {
    enum Kind { kText, kInt, kDouble } kind = kText;
    cow_String text;
    std::int64_t integer = 0;
    double real = 0.0;
  };
  cow_String m_Format;
  std::map<int, Value> m_Values;
};

atr_Translation atr_translate(const char* format);

template <class T>
void atr_SubstituteFormat(atr_Translation& translation, int position, const T& value) {
  translation.Substitute(position, value);
}

// Convenience: substitutes the arguments at positions 1, 2, ... and returns
// the result.
template <class... Args>
cow_String atr_Format(const char* format, const Args&... args) {
  atr_Translation t(format);
  int position = 0;
  (t.Substitute(++position, args), ...);
  return t.Result();
}

#endif  // QVT_FOUNDATION_ATR_TRANSLATE_H
