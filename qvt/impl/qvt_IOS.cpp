// Pooled strings on a typed stream: each string is stored as the string
// pool's fixed-size external reference, converted through one scratch block
// per array transfer.
#include "qvt_IOS.h"

#include "qvt_IOMessages.h"
#include "qvt_IOScratch.h"

using namespace qvt_IOMessages;

namespace {
std::size_t ReferenceSize(qvt_StringManager& pool) {
  const int w = pool.ExternalSize();
  NEX_ASSERT(w > 0);
  return static_cast<std::size_t>(w);
}
}  // namespace

int qvt_IOS::ReadStringArray(cow_String* strings, int count) {
  if (strings == nullptr) NEX_THROW_TEXT(kInvalidPointer);
  if (count < 1) NEX_THROW_TEXT(kInvalidLength);
  qvt_StringManager& pool = StringManager();
  const std::size_t w = ReferenceSize(pool);
  const int byteCount = CheckedByteCount(strings, count, w);
  qvt_IOScratch scratch(static_cast<std::size_t>(byteCount));
  const int bytesRead = Read(scratch.Data(), byteCount);
  CheckReadCount(bytesRead, byteCount);
  const int read = bytesRead / static_cast<int>(w);
  if (read > 0) pool.InternalizeStrings(scratch.Data(), strings, read);
  return read;
}

cow_String qvt_IOS::ReadString() {
  cow_String value;
  if (ReadStringArray(&value, 1) < 1) NEX_THROW_TEXT(kUnexpectedEof);
  return value;
}

void qvt_IOS::WriteStringArray(const cow_String* strings, int count) {
  if (strings == nullptr) NEX_THROW_TEXT(kInvalidPointer);
  if (count < 1) NEX_THROW_TEXT(kInvalidLength);
  qvt_StringManager& pool = StringManager();
  const std::size_t w = ReferenceSize(pool);
  const int byteCount = CheckedByteCount(strings, count, w);
  qvt_IOScratch scratch(static_cast<std::size_t>(byteCount));
  pool.ExternalizeStrings(scratch.Data(), strings, count);
  if (Write(scratch.Data(), byteCount) != byteCount) NEX_THROW_TEXT(kWriteFailed);
}

void qvt_IOS::WriteString(const cow_String& value) { WriteStringArray(&value, 1); }
