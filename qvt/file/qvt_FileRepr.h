// The abstract file under a database: a typed stream with a logical length
// that the database grows explicitly, an allocation (what the medium holds),
// a size record, and the transaction lock and status check used between a
// writer and its readers. Local, compressed and remote files derive from it.
#ifndef QVT_IMPL_QVT_FILEREPR_H
#define QVT_IMPL_QVT_FILEREPR_H

#include "qvt_Handle.h"
#include "qvt_IO.h"

class qvt_Problems;

class qvt_FileRepr : public qvt_IO {
 public:
  // Position, logical length and allocation start at 0; the byte order is
  // that of database files (EndianType 1).
  explicit qvt_FileRepr(const cow_String& name);
  ~qvt_FileRepr() override = default;

  utl_FileOffset Length() override { return m_LogicalLength; }
  utl_FileOffset Location() override { return m_Position; }

  // The logical length (same value as Length).
  virtual utl_FileOffset FileLength() { return m_LogicalLength; }
  virtual utl_FileOffset Allocation() { return m_Allocation; }
  // Grows the logical length by increment; answers true when the medium
  // grew (the caller then rewrites the size record).
  virtual bool ExtendFile(utl_FileOffset increment) = 0;
  // Gives back everything beyond the logical length.
  virtual void TrimToLength() = 0;
  virtual qvt_FileStatus::QvtFileStatus FileStatus() { return qvt_FileStatus::Unchanged; }
  // A warning about the remote page cache, or "".
  virtual atr_String CheckNODBCache() { return atr_String(); }
  // The 12-byte record at offset: a 4-byte marker and the allocation as a
  // double in file byte order.
  virtual void WriteSizeRecord(int offset) { (void)offset; }
  virtual void CheckSizeRecord(int offset) { (void)offset; }
  // Adds what is wrong with the size record at offset to problems, each
  // with the refusal CheckSizeRecord raises for it. A file that keeps no
  // size record (a compressed one keeps its own length) adds nothing.
  virtual void SizeRecordProblems(int offset, qvt_Problems* problems) {
    (void)offset;
    (void)problems;
  }

  const cow_String& FileName() const { return m_Name; }
  // Take and release the transaction lock beside the file (writable files
  // only; nothing happens on a read-only file). With PAUSE_FOR_TRANSACTION
  // set, each prompts on standard error and waits for a line on standard
  // input: before the lock is made and after it is removed.
  void ReaderSemaphoreSet();
  void ReaderSemaphoreClear();
  // True when another process holds the transaction lock and this one does
  // not hold it itself.
  bool WriterActive();
  // True when the transaction lock beside the file exists, whoever holds
  // it. Unlike WriterActive, no status check is made, so no flush is taken
  // as reported; always false for a remote file.
  bool TransactionLockExists() const;
  bool InTransaction() const { return m_InTransaction; }

  // The name of the transaction lock directory of a database file: a name
  // ending in exactly ".odb" has that ending replaced by ".lsm", any other
  // name gets ".lsm" appended. The one place this rule lives.
  static cow_String TransactionLockName(const cow_String& fileName);

 protected:
  // Restores the position on every way out of a scope.
  class PositionGuard {
   public:
    PositionGuard(qvt_FileRepr& file, utl_FileOffset position) : m_File(file), m_Position(position) {}
    ~PositionGuard() { m_File.Seek(m_Position); }
    PositionGuard(const PositionGuard&) = delete;
    PositionGuard& operator=(const PositionGuard&) = delete;

   private:
    qvt_FileRepr& m_File;
    utl_FileOffset m_Position;
  };

  // The size record check through this file's own Seek and Read: the
  // record at offset must name the allocation, or (naming 0) carry one of
  // the two sound markers. Leaves the position where it was. The first form
  // THROWS nex_TextException (the corrupt-file text) otherwise, or when the
  // record cannot be read whole; the second lists what it finds.
  void VerifySizeRecord(int offset);
  void VerifySizeRecord(int offset, qvt_Problems* problems);

  utl_FileOffset m_Position = 0;
  utl_FileOffset m_LogicalLength = 0;
  utl_FileOffset m_Allocation = 0;
  cow_String m_Name;
  bool m_InTransaction = false;
};

#endif  // QVT_IMPL_QVT_FILEREPR_H
