// Text type of the library and the ordering used for name-keyed maps.
// The standard string takes the place of the reference-counted text: copies
// are values, so sharing is an optimisation the library never relies on.
#ifndef QVT_FOUNDATION_COW_STRING_H
#define QVT_FOUNDATION_COW_STRING_H

#include <string>

using cow_String = std::string;
using atr_String = std::string;

// Process-wide switch: when on, name-keyed maps compare in natural order
// (runs of digits compared as numbers), otherwise byte by byte.
bool atr_getNaturalOrder();
void atr_setNaturalOrder(bool on);

// strnatcmp-style comparison: <0, 0, >0.
int atr_strnatcmp(const char* a, const char* b);

// Comparator for maps keyed by names; follows atr_getNaturalOrder at the
// moment of each comparison, so switch it before filling a map.
struct cow_StringLess {
  bool operator()(const cow_String& a, const cow_String& b) const;
};

#endif  // QVT_FOUNDATION_COW_STRING_H
