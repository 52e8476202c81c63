// The public file handle: opens or creates a database file by name and picks
// its kind (plain local, compressed, remote) behind one interface. Copying a
// handle shares the open file; the last copy closes it. A handle is used by
// one thread at a time.
#ifndef QVT_INCLUDE_QVT_FILE_H
#define QVT_INCLUDE_QVT_FILE_H

#include "cow_CountedHld.h"
#include "cow_String.h"
#include "utl_FileOffset.h"

class qvt_FileRepr;

class qvt_File {
 public:
  // access: 0 read (must exist and be readable), 1 update (must exist and be
  // writeable), 2 create (created or emptied; never compressed). flag is
  // kept by a local file and has no effect. A URL opens a remote file for
  // reading; an existing file starting with "KVRTSA" a compressed file.
  // With KVR_QVT_LOGIFY set, one "*** Informational: " line per open goes to
  // standard error (none for a URL, none when the path tests fail).
  // THROWS qvt_FileNoSuchFile, qvt_FileNotReadable or qvt_FileReadOnlyExc
  // when a path test fails (nothing is opened then; a URL is read-only),
  // nex_AssertException("Incorrect file access.") for any other access, and
  // what the chosen kind throws when it cannot open the file.
  static qvt_File Open(const cow_String& name, int access, bool flag);
  // Opens for reading as access 0; a non-empty password replaces the
  // password part of a URL (other kinds ignore it).
  static qvt_File Open(const cow_String& name, cow_String password);
  // Creates a compressed file. THROWS qvt_FileReadOnlyExc for a URL.
  static qvt_File CreateCompressed(const cow_String& name);

  // Copies source from its position to its end into this file at this
  // file's position, in 4096-byte blocks; both positions advance.
  // THROWS qvt_FileReadOnlyExc when this file is read-only and
  // qvt_FileBadParameterExc("qvt_File::Copy") when source is this very file
  // (a file copied into itself would read back its own writes); neither
  // file has moved then.
  void Copy(const qvt_File& source);
  bool ReadOnly() const;
  const cow_String& FileName() const;

  // The implementation, for the database layer; owned by the handles.
  qvt_FileRepr* Repr() const { return m_Repr.Get(); }

  // An empty handle, to be assigned; its operations fail the assertion.
  qvt_File();
  // Takes ownership of repr.
  explicit qvt_File(qvt_FileRepr* repr);
  qvt_File(const qvt_File& other);
  qvt_File& operator=(const qvt_File& other);
  ~qvt_File();

 private:
  cow_CountedHld<qvt_FileRepr> m_Repr;
};

#endif  // QVT_INCLUDE_QVT_FILE_H
