// What every file kind shares: its name, the transaction lock beside it and
// the writer-activity test built on the file status.
#include "qvt_FileRepr.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "qvt_DBStatusCheckerFile.h"
#include "qvt_FileLayout.h"
#include "qvt_Problems.h"
#include "utl_File.h"

namespace {
const char kPauseVariable[] = "PAUSE_FOR_TRANSACTION";
const char kCorruptFile[] =
    "***ERROR: The KELVOR database file is corrupt. If this file was transferred from another machine "
    "using FTP or equivalent, ensure that the file was copied using the binary mode instead of ASCII mode.";
namespace L = qvt_FileLayout;

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

bool qvt_FileRepr::TransactionLockExists() const {
  return qvt_DBStatusCheckerFile::TransactionLockExists(m_Name);
}

void qvt_FileRepr::VerifySizeRecord(int offset) {
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  VerifySizeRecord(offset, &problems);
}

void qvt_FileRepr::VerifySizeRecord(int offset, qvt_Problems* problems) {
  unsigned char record[L::kSizeRecordBytes];
  int bytesRead;
  {
    PositionGuard restore(*this, m_Position);
    Seek(offset);
    bytesRead = Read(reinterpret_cast<char*>(record), L::kSizeRecordBytes);
  }
  // Texts are made only for a problem: a sound record costs no allocation.
  const auto where = [offset] { return "the size record at offset " + std::to_string(offset); };
  if (bytesRead != L::kSizeRecordBytes) return problems->Add(where() + " cannot be read whole", kCorruptFile);

  double stored;
  omi_SwapperGuts::InternalizeArray(MustSwap(), record + L::kSizeValueOffset, &stored, 1, sizeof stored);
  // Only a whole number a double holds exactly can name a size; NaN,
  // infinities, negative and larger values are damage, not sizes.
  const double rounded = stored + 0.5;
  if (!std::isfinite(rounded) || rounded <= -1.0 || rounded >= L::kLargestQuantity)
    return problems->Add(where() + " does not hold a file size", kCorruptFile);
  const utl_FileOffset recorded = static_cast<utl_FileOffset>(rounded);
  // No size recorded: only the two markers a sound file can carry pass.
  const bool knownMarker =
      std::memcmp(record, L::kSizeMarkerText, 4) == 0 || std::memcmp(record, L::kSizeMarkerWritten, 4) == 0;
  // A value just below 0 reads as no size recorded; a checker is told it
  // is none.
  if (stored < 0.0)
    return problems->Add(where() + " does not hold a file size", knownMarker ? cow_String() : kCorruptFile);

  if (recorded != 0) {
    if (recorded != m_Allocation) {
      problems->Add("the size record says the file is " + std::to_string(recorded) +
                        " bytes long, but it is " + std::to_string(m_Allocation) +
                        " (truncated, extended, or copied in text mode)",
                    kCorruptFile);
    }
    return;
  }
  if (!knownMarker) problems->Add(where() + " has an unknown marker", kCorruptFile);
}
