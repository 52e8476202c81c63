// A typed stream that also stores pooled strings: 8-byte references into the
// database's string pool.
#ifndef QVT_IMPL_QVT_IOS_H
#define QVT_IMPL_QVT_IOS_H

#include "qvt_IO.h"
#include "qvt_StringManager.h"

class qvt_IOS : public qvt_IO {
 public:
  using qvt_IO::qvt_IO;

  virtual qvt_StringManager& StringManager() = 0;
  // Same checks and messages as the typed array operations.
  virtual int ReadStringArray(cow_String* strings, int count);
  virtual cow_String ReadString();
  virtual void WriteStringArray(const cow_String* strings, int count);
  virtual void WriteString(const cow_String& value);
};

#endif  // QVT_IMPL_QVT_IOS_H
