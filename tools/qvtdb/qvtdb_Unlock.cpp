// qvtdb unlock: removes a transaction lock that a writer which died inside
// a transaction left beside the file, once no writer holds the file; and
// the state of that lock, which info and watch tell.
#include <iostream>

#include "qvt_FileRepr.h"
#include "qvtdb_Tool.h"
#include "utl_File.h"

qvtdb_LockState qvtdb_TransactionLockState(const std::string& file) {
  if (!utl_Stat(qvt_FileRepr::TransactionLockName(file)).exists) return qvtdb_LockAbsent;
  // A writer of this library holds the file's writer lock for as long as
  // it has the file open; without one the transaction lock is left over.
  return utl_WriterLockHeld(file) ? qvtdb_LockHeld : qvtdb_LockStale;
}

std::string qvtdb_StaleLockNote(const std::string& file) {
  return "stale transaction lock " + std::string(qvt_FileRepr::TransactionLockName(file)) +
         ": no writer holds the file (qvtdb unlock removes it)";
}

int qvtdb_Unlock(const std::string& file) {
  const std::string lock = qvt_FileRepr::TransactionLockName(file);
  switch (qvtdb_TransactionLockState(file)) {
    case qvtdb_LockAbsent:
      std::cout << file << ": no transaction lock" << std::endl;
      return qvtdb_ExitOk;
    case qvtdb_LockHeld:
      throw qvtdb_Failure("a writer holds " + file + "; its transaction lock " + lock + " stays");
    case qvtdb_LockStale:
      break;
  }
  if (!utl_RemoveDirectory(lock)) throw qvtdb_Failure("cannot remove " + lock);
  std::cout << file << ": removed the stale transaction lock " << lock << std::endl;
  return qvtdb_ExitOk;
}
