// Tells a reader what the writer of a database file has done since the last
// look: nothing, flushed, re-created the file, or is inside a transaction.
// Sits above the file layer; it reads the file each time, so it sees what
// other processes wrote, and keeps the file open between checks while its
// name still names it. On local file systems it follows the transaction
// lock through the kernel's change notices rather than a lookup per check.
#ifndef QVT_INCLUDE_QVT_DBSTATUSCHECKERFILE_H
#define QVT_INCLUDE_QVT_DBSTATUSCHECKERFILE_H

#include <memory>

#include "cow_String.h"
#include "qvt_Handle.h"

class utl_File;
class utl_NameWatch;

// Keeps the flush count and creation time seen at the last check. Each check
// answers relative to the previous one, not to the opening of the file.
// Derived classes hear about every answer through the two notifications.
class qvt_DBStatusCheckerFile {
 public:
  // Reads and keeps the flush count and creation time of fileName. A file
  // too short to hold them counts as holding zeros (it is not a database
  // yet; opening one reports that with its own message).
  // THROWS the file layer's exception when the file cannot be opened or read.
  explicit qvt_DBStatusCheckerFile(const cow_String& fileName);
  virtual ~qvt_DBStatusCheckerFile();
  qvt_DBStatusCheckerFile(const qvt_DBStatusCheckerFile&) = delete;
  qvt_DBStatusCheckerFile& operator=(const qvt_DBStatusCheckerFile&) = delete;

  // Answers, in this order of precedence:
  //   InTransaction  the transaction lock of the file exists;
  //   Recreated      the creation time differs from the kept one (kept values
  //                  stay, so every check answers this until the checker is
  //                  rebuilt);
  //   Updated        the flush count differs; the new count is kept, so the
  //                  next check answers Unchanged;
  //   Unchanged      otherwise;
  //   CheckFailed    the file could not be read, or is too short to hold
  //                  the two values.
  // Never throws: every failure becomes CheckFailed.
  virtual qvt_FileStatus::QvtFileStatus CheckStatus();

  // Whether the transaction lock of the database file fileName exists.
  // A URL never has one.
  static bool TransactionLockExists(const cow_String& fileName);

  const cow_String& FileName() const { return m_FileName; }
  int FlushCount() const { return m_FlushCount; }
  int CreationTime() const { return m_CreationTime; }

 protected:
  // Called with every answer of CheckStatus, just before it is returned.
  virtual void StatusChecked(qvt_FileStatus::QvtFileStatus status) = 0;
  // Called when CheckStatus found (and kept) a new flush count.
  virtual void FlushCountChanged() = 0;

 private:
  // The open file that the name names now, reopened when it names another.
  utl_File& CurrentFile();
  // Whether the lock exists, from the watch on it where one could start.
  bool LockExists();

  cow_String m_FileName;
  std::unique_ptr<utl_File> m_File;
  unsigned long long m_Identity = 0;
  std::unique_ptr<utl_NameWatch> m_LockWatch;  // started at the first check
  bool m_LockWatchTried = false;
  int m_FlushCount = 0;
  int m_CreationTime = 0;
};

#endif  // QVT_INCLUDE_QVT_DBSTATUSCHECKERFILE_H
