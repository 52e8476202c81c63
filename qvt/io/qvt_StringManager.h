// The string pool as the typed I/O layer sees it: turning strings into 8-byte
// external references and back. The database's pool implements it.
#ifndef QVT_IMPL_QVT_STRINGMANAGER_H
#define QVT_IMPL_QVT_STRINGMANAGER_H

#include "cow_String.h"

class qvt_StringManager {
 public:
  virtual ~qvt_StringManager() = default;
  virtual void Flush() = 0;
  // Rewrites the string of the record the reference names (same length).
  virtual void NeuterString(char* external, const cow_String& replacement) = 0;
  // Decodes count references at external into strings.
  virtual void InternalizeStrings(const char* external, cow_String* strings, int count) = 0;
  // Finds or adds each string and encodes its reference at external.
  virtual void ExternalizeStrings(char* external, const cow_String* strings, int count) = 0;
  // Bytes of one external reference (8).
  virtual int ExternalSize() const = 0;
};

#endif  // QVT_IMPL_QVT_STRINGMANAGER_H
