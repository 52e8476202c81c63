// Operating-system files and paths. A utl_File is one open descriptor with
// its own position; Read and Write are single positioned system calls.
#ifndef QVT_FOUNDATION_UTL_FILE_H
#define QVT_FOUNDATION_UTL_FILE_H

#include "cow_String.h"
#include "nex_Exception.h"
#include "utl_FileOffset.h"

// 0 read (must exist), 1 update (must exist, read and write), 2 create
// (created or emptied, read and write).
enum utl_FileAccess { utl_FileAccessRead = 0, utl_FileAccessUpdate = 1, utl_FileAccessCreate = 2 };
// Sharing is advisory on this platform and has no effect.
enum utl_FileSharing { utl_FileSharingNone = 0 };
// A writer lock is an advisory lock on the whole file, held from opening to
// closing through this descriptor (an open-file-description lock, so a
// second descriptor of the same process is refused too). Readers never take
// it; they can only ask whether someone holds it.
enum utl_FileLock { utl_FileLockNone = 0, utl_FileLockWriter = 1 };

// Raised when a writer lock is asked for and another descriptor holds it.
class utl_FileExceptionLocked : public nex_TextException {
 public:
  explicit utl_FileExceptionLocked(const cow_String& name);

 protected:
  [[noreturn]] void Raise() const override { throw *this; }
};

// Raised when a file to be opened does not exist.
class utl_FileExceptionNoFile : public nex_TextException {
 public:
  explicit utl_FileExceptionNoFile(const cow_String& name);

 protected:
  [[noreturn]] void Raise() const override { throw *this; }
};

class utl_File {
 public:
  // Opens name; throws utl_FileExceptionNoFile when a file that must exist
  // does not, nex_TextException for any other failure. With
  // utl_FileLockWriter (update or create access) the lock is taken before
  // anything changes: create access empties the file only once it holds the
  // lock, and utl_FileExceptionLocked leaves the file untouched.
  utl_File(const cow_String& name, int access, int sharing = utl_FileSharingNone, int lock = utl_FileLockNone);
  ~utl_File();
  utl_File(const utl_File&) = delete;
  utl_File& operator=(const utl_File&) = delete;

  // Moves up to count bytes at the current position; returns the number
  // moved (0 at the end for Read). Throws nex_TextException on an OS error.
  int Read(char* buffer, int count);
  int Write(const char* buffer, int count);
  // The same at a given offset, leaving the position alone; safe to call
  // from several threads at once on distinct byte ranges.
  int ReadAt(utl_FileOffset offset, char* buffer, int count) const;
  int WriteAt(utl_FileOffset offset, const char* buffer, int count) const;
  // Sets the position of the next Read or Write; costs no system call.
  // THROWS nex_TextException for a negative offset.
  void Seek(utl_FileOffset offset);
  utl_FileOffset Tell() const { return m_Position; }
  // Sets the file's size to length; may shorten or lengthen it.
  void Extend(utl_FileOffset length);
  utl_FileOffset FileSize() const;
  // The file's identity (device and inode): equal to the utl_Stat identity
  // of a path exactly when the path still names this open file.
  unsigned long long Identity() const;
  // Forces what was written down to the storage device (fsync).
  void Sync();
  // True when some descriptor other than this one holds the writer lock.
  bool WriterLockHeldElsewhere() const;
  const cow_String& Name() const { return m_Name; }
  int Descriptor() const { return m_Fd; }

 private:
  cow_String m_Name;
  int m_Fd = -1;
  utl_FileOffset m_Position = 0;
};

// Path tests. A name that parses as a URL counts as existing and readable,
// so that remote files are reached by the same tests.
class utl_FilePath {
 public:
  explicit utl_FilePath(const cow_String& name, const cow_String& second = cow_String());
  bool Exists() const;
  bool IsReadable() const;
  bool IsWriteable() const;
  bool IsDirectory() const;
  const cow_String& Name() const { return m_Name; }

 private:
  cow_String m_Name;
};

// Metadata of a path: whether it exists, its modification time and its
// identity (device and inode folded into one value).
struct utl_Stat {
  explicit utl_Stat(const cow_String& name);
  bool exists = false;
  bool isDirectory = false;
  utl_FileOffset size = 0;
  long long modifiedNanoseconds = 0;
  unsigned long long identity = 0;
};

// Directory calls behind the transaction lock (the _mkdir/_rmdir twins).
// Both return true on success and never throw.
bool utl_MakeDirectory(const cow_String& name);
bool utl_RemoveDirectory(const cow_String& name);
bool utl_RemoveFile(const cow_String& name);
// True when the file exists and a descriptor holds its writer lock. Never
// throws.
bool utl_WriterLockHeld(const cow_String& name);

// getenv: true and the value when the variable is set (to anything).
bool utl_GetEnv(const char* name, cow_String* value = nullptr);

#endif  // QVT_FOUNDATION_UTL_FILE_H
