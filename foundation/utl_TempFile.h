// A named scratch file: created empty with a unique name in the system's
// temporary folder (TMPDIR when set, else /tmp) and removed when the object
// goes. Used for a child process's error output and for page caches.
#ifndef QVT_FOUNDATION_UTL_TEMPFILE_H
#define QVT_FOUNDATION_UTL_TEMPFILE_H

#include <cstdint>

#include "cow_String.h"

class utl_TempFile {
 public:
  // Creates the file in the temporary folder. THROWS nex_TextException when
  // it cannot be created.
  utl_TempFile();
  // Creates the file in directory instead.
  explicit utl_TempFile(const cow_String& directory);
  ~utl_TempFile();
  utl_TempFile(const utl_TempFile&) = delete;
  utl_TempFile& operator=(const utl_TempFile&) = delete;

  const cow_String& Name() const { return m_Name; }
  // Opens the file for reading and writing when it still exists. Answers a
  // C file descriptor the caller owns (close it with utl_CloseDescriptor),
  // or -1 when the file is gone.
  int OpenIfPresent() const;
  // Removes the name now, once the caller or a child holds the file open:
  // the file then lives as long as a descriptor to it, and the system frees
  // it however the process ends. This object keeps a descriptor of its own
  // for Contents(). Name() still answers the old name, for messages.
  void RemoveName();
  // The file's bytes as they are now, or "" when it cannot be read.
  cow_String Contents() const;
  // Free bytes available to this process on the volume holding the file.
  // THROWS nex_TextException when the volume cannot be queried.
  std::uint64_t AvailableSpace() const;

 private:
  void CreateIn(const cow_String& directory);

  cow_String m_Name;
  bool m_Named = false;  // the name is still ours to remove
  int m_Fd = -1;         // held once the name is removed
};

// Closes a descriptor obtained from the foundation; false on failure.
bool utl_CloseDescriptor(int fd);

#endif  // QVT_FOUNDATION_UTL_TEMPFILE_H
