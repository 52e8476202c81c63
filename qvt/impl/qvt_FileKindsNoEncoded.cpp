// Compressed files in a build without the compressed file implementation:
// the request is refused with a clear message. The compressed implementation
// defines these functions itself; this file goes when it lands.
#include "qvt_FileKinds.h"

#include "atr_translate.h"
#include "nex_Exception.h"

namespace {
[[noreturn]] void RefuseCompressed(const cow_String& name) {
  NEX_THROW_TEXT(atr_Format("***ERROR: Compressed files are not supported by this build: %s", name));
}
}  // namespace

qvt_FileRepr* qvt_OpenEncodedFile(const cow_String& name, int /*access*/) { RefuseCompressed(name); }

qvt_FileRepr* qvt_CreateEncodedFile(const cow_String& name) { RefuseCompressed(name); }
