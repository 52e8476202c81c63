// What every file kind shares: its name, the transaction lock beside it and
// the writer-activity test built on the file status.
#include "qvt_FileRepr.h"

#include <cstdio>

#include "utl_File.h"

namespace {
const char kPauseVariable[] = "PAUSE_FOR_TRANSACTION";

// Holds a writer at one edge of a transaction until a line is entered: the
// prompt goes to standard error, and a line of at most 9 characters is read
// from standard input and dropped.
void PauseForTransaction(const char* prompt) {
  if (!utl_GetEnv(kPauseVariable)) return;
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  char line[10];
  // End of input or a read error simply ends the wait: the pause is a test
  // hook and must never stop the writer for good.
  if (std::fgets(line, sizeof line, stdin) == nullptr) std::clearerr(stdin);
}
}  // namespace

qvt_FileRepr::qvt_FileRepr(const cow_String& name) : qvt_IO(omi_Swapper(EndianBig)), m_Name(name) {}

cow_String qvt_FileRepr::TransactionLockName(const cow_String& fileName) {
  static const char kDatabaseEnding[] = ".odb";
  const std::size_t dot = fileName.rfind('.');
  if (dot != cow_String::npos && fileName.compare(dot, cow_String::npos, kDatabaseEnding) == 0)
    return fileName.substr(0, dot) + ".lsm";
  return fileName + ".lsm";
}

void qvt_FileRepr::ReaderSemaphoreSet() {
  if (ReadOnly()) return;
  PauseForTransaction("Before transaction: ");
  // Not checked on purpose: a lock left behind by a crashed writer must not
  // stop the next one. The lock announces a transaction; it excludes nobody.
  (void)utl_MakeDirectory(TransactionLockName(m_Name));
  m_InTransaction = true;
}

void qvt_FileRepr::ReaderSemaphoreClear() {
  if (ReadOnly()) return;
  // Not checked for the same reason: a missing lock is already released.
  (void)utl_RemoveDirectory(TransactionLockName(m_Name));
  m_InTransaction = false;
  PauseForTransaction("After transaction: ");
}

bool qvt_FileRepr::WriterActive() {
  if (m_InTransaction) return false;
  return FileStatus() == qvt_FileStatus::InTransaction;
}
