// Raising damaged-file failures of the compressed-file layers.
#include "qvt_EncodedMessages.h"

void qvt_RaiseEncodedCorrupt(const char* sourceFile, int sourceLine, const char* where,
                             const cow_String& fileName, const cow_String& detail) {
  nex_TextException(atr_Format(qvt_EncodedMessages::kFileCorrupt, where, fileName, detail))
      .Throw(sourceFile, sourceLine);
}
