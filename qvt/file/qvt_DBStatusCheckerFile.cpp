// The status check between a database writer and its readers: the
// transaction lock beside the file, then the flush count and creation time
// in the header, read afresh on every check through a descriptor kept open
// while the path still names the same file.
#include "qvt_DBStatusCheckerFile.h"

#include <exception>
#include <memory>
#include <utility>

#include "omi_Swapper.h"
#include "qvt_FileLayout.h"
#include "qvt_FileRepr.h"
#include "utl_File.h"
#include "utl_NameWatch.h"
#include "utl_UrlParser.h"

namespace {

// The two header values read by the check, the flush count and right
// behind it the creation time.
const utl_FileOffset kFlushCountOffset = qvt_FileLayout::kFlushCountOffset;
const int kHeaderValuesSize = qvt_FileLayout::kCreationTimeOffset + 4 - qvt_FileLayout::kFlushCountOffset;

struct HeaderValues {
  int flushCount = 0;
  int creationTime = 0;
};

// Takes the two values from file. Answers false, and leaves both values 0,
// when the file ends before both are complete.
bool ReadHeaderValues(utl_File& file, HeaderValues* values) {
  unsigned char bytes[kHeaderValuesSize] = {};
  file.Seek(kFlushCountOffset);
  const int got = file.Read(reinterpret_cast<char*>(bytes), kHeaderValuesSize);
  if (got != kHeaderValuesSize) {
    *values = HeaderValues();
    return false;
  }
  int ints[2] = {0, 0};
  omi_SwapperGuts::InternalizeArray(omi_Swapper(EndianBig).MustSwap(), bytes, ints, 2, 4);
  values->flushCount = ints[0];
  values->creationTime = ints[1];
  return true;
}

}  // namespace

// Opening the file costs more than reading it: the descriptor is kept, and
// replaced only when the path names another file (re-created or replaced),
// so that such a file is still read and seen as re-created. A path that no
// longer exists fails the read as an open of it would.
utl_File& qvt_DBStatusCheckerFile::CurrentFile() {
  if (m_File) {
    const utl_Stat path(m_FileName);
    if (!path.exists) throw utl_FileExceptionNoFile(m_FileName);
    if (path.identity == m_Identity) return *m_File;
    m_File.reset();
  }
  auto file = std::make_unique<utl_File>(m_FileName, utl_FileAccessRead, utl_FileSharingNone);
  m_Identity = file->Identity();
  m_File = std::move(file);
  return *m_File;
}

qvt_DBStatusCheckerFile::qvt_DBStatusCheckerFile(const cow_String& fileName) : m_FileName(fileName) {
  HeaderValues values;
  // A short file keeps zeros: the file layer opens any file, and whether it
  // holds a database is for the database layer to say.
  (void)ReadHeaderValues(CurrentFile(), &values);
  m_FlushCount = values.flushCount;
  m_CreationTime = values.creationTime;
}

qvt_DBStatusCheckerFile::~qvt_DBStatusCheckerFile() = default;

bool qvt_DBStatusCheckerFile::TransactionLockExists(const cow_String& fileName) {
  if (utl_UrlParser::IsUrl(fileName)) return false;
  const utl_Stat lock(qvt_FileRepr::TransactionLockName(fileName));
  return lock.exists && lock.isDirectory;
}

// A follower asks thousands of times a second while a writer makes and
// removes the lock for every transaction; a lookup of the lock that meets
// its removal can cost a hundred times more than the notices do. Started at
// the first check, so that checkers that never check hold no watch.
bool qvt_DBStatusCheckerFile::LockExists() {
  if (!m_LockWatchTried) {
    m_LockWatchTried = true;
    if (!utl_UrlParser::IsUrl(m_FileName))
      m_LockWatch = utl_NameWatch::Start(qvt_FileRepr::TransactionLockName(m_FileName));
  }
  return m_LockWatch ? m_LockWatch->IsDirectory() : TransactionLockExists(m_FileName);
}

qvt_FileStatus::QvtFileStatus qvt_DBStatusCheckerFile::CheckStatus() {
  using qvt_FileStatus::QvtFileStatus;
  try {
    QvtFileStatus status = qvt_FileStatus::Unchanged;
    if (LockExists()) {
      status = qvt_FileStatus::InTransaction;
    } else {
      HeaderValues values;
      if (!ReadHeaderValues(CurrentFile(), &values)) {
        // Cut short (being re-created, or damaged): nothing to compare.
        status = qvt_FileStatus::CheckFailed;
      } else if (values.creationTime != m_CreationTime) {
        status = qvt_FileStatus::Recreated;
      } else if (values.flushCount != m_FlushCount) {
        m_FlushCount = values.flushCount;
        StatusChecked(qvt_FileStatus::Updated);
        FlushCountChanged();
        return qvt_FileStatus::Updated;
      }
    }
    StatusChecked(status);
    return status;
  } catch (const std::exception&) {
    // The answer itself reports the failure; the exception stops here.
  }
  try {
    StatusChecked(qvt_FileStatus::CheckFailed);
  } catch (const std::exception&) {
    // A notification that fails while a failure is being reported has
    // nothing left to report to: the answer below already says it.
  }
  return qvt_FileStatus::CheckFailed;
}
