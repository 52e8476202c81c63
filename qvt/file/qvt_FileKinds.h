// Constructors of the file kinds that live outside the local-file code: the
// compressed file and the remote file. qvt_File calls these after its path
// tests; each returns a new implementation owned by the caller, or throws.
// Each kind's own implementation file defines its functions (compressed/
// and remote/).
#ifndef QVT_IMPL_QVT_FILEKINDS_H
#define QVT_IMPL_QVT_FILEKINDS_H

#include "cow_String.h"

class qvt_FileRepr;

// Opens an existing compressed file for access 0 (read) or 1 (update), with
// a zlib codec of level 6.
qvt_FileRepr* qvt_OpenEncodedFile(const cow_String& name, int access);
// Creates a compressed file: zlib codec of level 6, 65536-byte segments.
qvt_FileRepr* qvt_CreateEncodedFile(const cow_String& name);
// Opens a remote file (a URL) for reading; a non-empty password replaces the
// password part of the URL.
qvt_FileRepr* qvt_OpenRemoteFile(const cow_String& url, const cow_String& password);

#endif  // QVT_IMPL_QVT_FILEKINDS_H
