// The status check between a database writer and its readers: the
// transaction lock beside the file, then the flush count and creation time
// in the header, read afresh from the file on every check.
#include "qvt_DBStatusCheckerFile.h"

#include <exception>

#include "omi_Swapper.h"
#include "qvt_FileLayout.h"
#include "qvt_FileRepr.h"
#include "utl_File.h"
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

// Opens fileName for reading and takes the two values. Answers false, and
// leaves both values 0, when the file ends before both are complete.
bool ReadHeaderValues(const cow_String& fileName, HeaderValues* values) {
  unsigned char bytes[kHeaderValuesSize] = {};
  utl_File file(fileName, utl_FileAccessRead, utl_FileSharingNone);
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

qvt_DBStatusCheckerFile::qvt_DBStatusCheckerFile(const cow_String& fileName) : m_FileName(fileName) {
  HeaderValues values;
  // A short file keeps zeros: the file layer opens any file, and whether it
  // holds a database is for the database layer to say.
  (void)ReadHeaderValues(m_FileName, &values);
  m_FlushCount = values.flushCount;
  m_CreationTime = values.creationTime;
}

qvt_DBStatusCheckerFile::~qvt_DBStatusCheckerFile() = default;

bool qvt_DBStatusCheckerFile::TransactionLockExists(const cow_String& fileName) {
  if (utl_UrlParser::IsUrl(fileName)) return false;
  const utl_Stat lock(qvt_FileRepr::TransactionLockName(fileName));
  return lock.exists && lock.isDirectory;
}

qvt_FileStatus::QvtFileStatus qvt_DBStatusCheckerFile::CheckStatus() {
  using qvt_FileStatus::QvtFileStatus;
  try {
    QvtFileStatus status = qvt_FileStatus::Unchanged;
    if (TransactionLockExists(m_FileName)) {
      status = qvt_FileStatus::InTransaction;
    } else {
      HeaderValues values;
      if (!ReadHeaderValues(m_FileName, &values)) {
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
