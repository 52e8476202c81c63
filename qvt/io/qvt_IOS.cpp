// Pooled strings on a typed stream: each string is stored as the string
// pool's fixed-size external reference, converted through one scratch block
// per array transfer.
#include "qvt_IOS.h"

#include "qvt_IOMessages.h"
#include "qvt_IOScratch.h"

using namespace qvt_IOMessages;

namespace {

// The checks and sizes shared by both directions of a pooled-string
// transfer: count references of the pool's external size.
struct StringTransfer {
  // The arguments are checked before the pool is asked for: a stream
  // without one still answers a bad argument with its own message.
  StringTransfer(qvt_IOS& stream, const cow_String* strings, int count)
      : pool(CheckedPool(stream, strings, count)) {
    const int w = pool.ExternalSize();
    NEX_ASSERT(w > 0);
    referenceSize = w;
    byteCount = CheckedByteCount(strings, count, static_cast<std::size_t>(w));
  }

  static qvt_StringManager& CheckedPool(qvt_IOS& stream, const cow_String* strings, int count) {
    if (strings == nullptr) NEX_THROW_TEXT(kInvalidPointer);
    if (count < 1) NEX_THROW_TEXT(kInvalidLength);
    return stream.StringManager();
  }

  qvt_StringManager& pool;
  int referenceSize = 0;
  int byteCount = 0;
};

}  // namespace

int qvt_IOS::ReadStringArray(cow_String* strings, int count) {
  const StringTransfer transfer(*this, strings, count);
  qvt_IOScratch scratch(static_cast<std::size_t>(transfer.byteCount));
  const int bytesRead = Read(scratch.Data(), transfer.byteCount);
  CheckReadCount(bytesRead, transfer.byteCount);
  const int read = bytesRead / transfer.referenceSize;
  if (read > 0) transfer.pool.InternalizeStrings(scratch.Data(), strings, read);
  return read;
}

cow_String qvt_IOS::ReadString() {
  cow_String value;
  if (ReadStringArray(&value, 1) < 1) NEX_THROW_TEXT(kUnexpectedEof);
  return value;
}

void qvt_IOS::WriteStringArray(const cow_String* strings, int count) {
  const StringTransfer transfer(*this, strings, count);
  qvt_IOScratch scratch(static_cast<std::size_t>(transfer.byteCount));
  transfer.pool.ExternalizeStrings(scratch.Data(), strings, count);
  if (Write(scratch.Data(), transfer.byteCount) != transfer.byteCount) NEX_THROW_TEXT(kWriteFailed);
}

void qvt_IOS::WriteString(const cow_String& value) { WriteStringArray(&value, 1); }
