// The public file handle: opens or creates a database file by name and picks
// its kind (plain local, compressed, remote) behind one interface. Copying a
// handle shares the open file; the last copy closes it.
#ifndef QVT_INCLUDE_QVT_FILE_H
#define QVT_INCLUDE_QVT_FILE_H

#include "cow_CountedHld.h"
#include "cow_String.h"
#include "utl_FileOffset.h"

class qvt_FileRepr;

class qvt_File {
 public:
  // access: 0 read (must exist and be readable), 1 update (must exist and be
  // writeable), 2 create (created or emptied). flag is kept and has no
  // effect. THROWS qvt_FileNoSuchFile, qvt_FileNotReadable,
  // qvt_FileReadOnlyExc as the checks fail; nex_AssertException("Incorrect
  // file access.") for any other access value.
  static qvt_File Open(const cow_String& name, int access, bool flag);
  // Opens for reading; password goes to a remote file only.
  static qvt_File Open(const cow_String& name, cow_String password);
  // Creates a compressed file. THROWS qvt_FileReadOnlyExc for a URL.
  static qvt_File CreateCompressed(const cow_String& name);

  // Copies source from its position to its end into this file at this
  // file's position, in 4096-byte blocks.
  void Copy(const qvt_File& source);
  bool ReadOnly() const;
  const cow_String& FileName() const;

  // The implementation, for the database layer.
  qvt_FileRepr* Repr() const { return m_Repr.Get(); }

  qvt_File();
  explicit qvt_File(qvt_FileRepr* repr);
  // Copies share the open file; defined where the implementation is complete.
  qvt_File(const qvt_File& other);
  qvt_File& operator=(const qvt_File& other);
  ~qvt_File();

 private:
  cow_CountedHld<qvt_FileRepr> m_Repr;
};

#endif  // QVT_INCLUDE_QVT_FILE_H
