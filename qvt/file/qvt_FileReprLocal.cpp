// The local file: positioned reads and writes on one operating-system file,
// growth in whole steps, trimming at close and the size record.
#include "qvt_FileReprLocal.h"

#include <cstring>

#include "qvt_DBStatusCheckerFileLocal.h"
#include "qvt_FileException.h"
#include "qvt_FileLayout.h"
#include "qvt_Problems.h"
#include "qvt_Journal.h"

namespace {
const char kWriteFailed[] = "***ERROR: Write operation failed.";

namespace L = qvt_FileLayout;

// The next whole growth step at or beyond length (signed division, as the
// logical length is signed).
utl_FileOffset RoundUpToStep(utl_FileOffset length) {
  const utl_FileOffset step = qvt_FileReprLocal::kGrowthStep;
  const utl_FileOffset whole = length / step * step;
  return whole == length ? whole : whole + step;
}
}  // namespace

qvt_FileReprLocal::qvt_FileReprLocal(const cow_String& name, int access, bool flag)
    : qvt_FileRepr(name),
      m_File(name, access, utl_FileSharingNone, utl_FileLockWriter),
      m_Journal(std::make_unique<qvt_Journal>(name, m_File)),
      m_ReadOnly(access == utl_FileAccessRead),
      m_Flag(flag) {
  // A writer first puts back what a writer that died in the middle of a
  // flush left behind; a reader of such a file reads through it instead.
  utl_FileOffset readThrough = -1;
  if (access == utl_FileAccessUpdate) m_Journal->Recover();
  if (access == utl_FileAccessCreate) m_Journal->Discard();
  if (access == utl_FileAccessRead) readThrough = m_Journal->LoadForReading();
  if (access == utl_FileAccessRead || access == utl_FileAccessUpdate) {
    m_StatusChecker = std::make_unique<qvt_DBStatusCheckerFileLocal>(name);
    m_File.Seek(0);
    m_LogicalLength = readThrough >= 0 ? readThrough : m_File.FileSize();
    m_Allocation = m_LogicalLength;
  }
  m_ReadThrough = readThrough >= 0;
  if (!m_ReadOnly) m_Journal->Begin(m_LogicalLength, m_Allocation);
}

qvt_FileReprLocal::~qvt_FileReprLocal() {
  // The database has flushed and written the size record by now: the file
  // is whole without the journal.
  if (!m_ReadOnly) m_Journal->Remove();
}

void qvt_FileReprLocal::Flush() {
  if (!m_ReadOnly) m_Journal->Commit(m_LogicalLength, m_Allocation);
}

qvt_FileStatus::QvtFileStatus qvt_FileReprLocal::FileStatus() {
  return m_StatusChecker ? m_StatusChecker->CheckStatus() : qvt_FileStatus::Unchanged;
}

void qvt_FileReprLocal::RaiseReadOnly() const { NEX_THROW(qvt_FileReadOnlyExc(m_Name)); }

void qvt_FileReprLocal::Seek(utl_FileOffset offset) {
  if (offset == m_Position) return;
  m_File.Seek(offset);
  m_Position = offset;
}

int qvt_FileReprLocal::Read(char* buffer, int count) {
  if (buffer == nullptr || count < 0) NEX_THROW(qvt_FileBadParameterExc("qvt_FileReprLocal::Read"));
  const int n = m_File.Read(buffer, count);
  if (m_ReadThrough) m_Journal->Overlay(m_Position, buffer, n);
  m_Position += n;
  return n;
}

int qvt_FileReprLocal::Write(const char* buffer, int count) {
  if (buffer == nullptr || count < 0) NEX_THROW(qvt_FileBadParameterExc("qvt_FileReprLocal::Write"));
  if (m_ReadOnly) RaiseReadOnly();
  const int n = m_Journal->Write(m_Position, buffer, count);
  m_Position += n;
  if (m_Position > m_Allocation) m_Allocation = m_Position;
  return n;
}

bool qvt_FileReprLocal::ExtendFile(utl_FileOffset increment) {
  if (m_ReadOnly) RaiseReadOnly();
  const utl_FileOffset newLength = m_LogicalLength + increment;
  NEX_ASSERT(newLength >= 0);
  const utl_FileOffset target = RoundUpToStep(newLength);
  if (target <= m_Allocation) {
    m_LogicalLength = newLength;
    return false;
  }
  ClearSizeRecord();
  m_File.Extend(target);  // may throw: fields change only after it succeeded
  m_Allocation = target;
  m_LogicalLength = newLength;
  return true;
}

void qvt_FileReprLocal::TrimToLength() {
  if (m_ReadOnly) RaiseReadOnly();
  ClearSizeRecord();
  m_File.Extend(m_LogicalLength);
  m_Allocation = m_LogicalLength;
}

void qvt_FileReprLocal::ClearSizeRecord() {
  // Until the record is rewritten after the resize, it says "no size
  // recorded", which every opener accepts, instead of a size the file no
  // longer has.
  if (m_SizeRecordOffset < 0) return;
  static const char kZeroRecord[L::kSizeRecordBytes] = {};
  PositionGuard restore(*this, m_Position);
  Seek(m_SizeRecordOffset);
  if (Write(kZeroRecord, L::kSizeRecordBytes) != L::kSizeRecordBytes) NEX_THROW_TEXT(kWriteFailed);
}

void qvt_FileReprLocal::WriteSizeRecord(int offset) {
  // Refused before moving anything, so the position stays where it was.
  if (m_ReadOnly) RaiseReadOnly();
  unsigned char record[L::kSizeRecordBytes] = {0, 0, 0, 0};
  const double allocation = static_cast<double>(m_Allocation);
  omi_SwapperGuts::ExternalizeArray(MustSwap(), &allocation, record + L::kSizeValueOffset, 1,
                                    sizeof allocation);
  PositionGuard restore(*this, m_Position);
  m_SizeRecordOffset = offset;
  Seek(offset);
  if (Write(reinterpret_cast<const char*>(record), L::kSizeRecordBytes) != L::kSizeRecordBytes)
    NEX_THROW_TEXT(kWriteFailed);
}

void qvt_FileReprLocal::CheckSizeRecord(int offset) {
  // Remembered, so that a resize can clear the record first.
  m_SizeRecordOffset = offset;
  VerifySizeRecord(offset);
}

void qvt_FileReprLocal::SizeRecordProblems(int offset, qvt_Problems* problems) { VerifySizeRecord(offset, problems); }
