// Remote files in a build without the remote file implementation: the
// request is refused with a clear message. The remote implementation defines
// this function itself; this file goes when it lands.
#include "qvt_FileKinds.h"

#include "atr_translate.h"
#include "nex_Exception.h"

qvt_FileRepr* qvt_OpenRemoteFile(const cow_String& url, const cow_String& /*password*/) {
  NEX_THROW_TEXT(atr_Format("***ERROR: Remote files are not supported by this build: %s", url));
}
