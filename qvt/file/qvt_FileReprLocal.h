// A database file that is a plain operating-system file. The database grows
// its logical length explicitly while the file itself grows in 1 MiB steps;
// the 12-byte size record lets a damaged copy be detected at the next open.
// Only qvt_File builds one.
#ifndef QVT_IMPL_QVT_FILEREPRLOCAL_H
#define QVT_IMPL_QVT_FILEREPRLOCAL_H

#include <memory>

#include "qvt_DBStatusCheckerFile.h"
#include "qvt_FileRepr.h"
#include "utl_File.h"

class qvt_Journal;

class qvt_FileReprLocal : public qvt_FileRepr {
 public:
  // The operating-system file grows in steps of this many bytes.
  static constexpr utl_FileOffset kGrowthStep = 0x100000;

  // Opens name with access 0 (read), 1 (update) or 2 (create, emptied).
  // For read and update, logical length and allocation are the file's size.
  // Update and create take the writer lock first; update then rolls back
  // what a writer that died inside a flush left in the journal. A reader of
  // a file whose writer died that way reads through the journal, so it sees
  // the last completed flush. THROWS what utl_File throws when the file
  // cannot be opened (utl_FileExceptionLocked while another writer holds
  // it), and nex_AssertException("Incorrect file access.") for any other
  // access.
  qvt_FileReprLocal(const cow_String& name, int access, bool flag);
  ~qvt_FileReprLocal() override;

  bool ReadOnly() const override { return m_ReadOnly; }
  // Free when offset is the current position.
  void Seek(utl_FileOffset offset) override;
  // Ends a round of the journal: what was written since is a completed
  // flush (the database calls it right after writing its flush count).
  void Flush() override;
  bool Extend(utl_FileOffset increment) override { return ExtendFile(increment); }
  // One positioned system call each, no allocation. THROW
  // qvt_FileBadParameterExc for a null buffer or a negative count; Write
  // THROWS qvt_FileReadOnlyExc on a read-only file. Write moves the
  // allocation up to the position it reaches, never the logical length.
  int Read(char* buffer, int count) override;
  int Write(const char* buffer, int count) override;

  // Adds increment to the logical length and grows the file to the next
  // whole step beyond it; answers whether the file grew. A size record seen
  // before is cleared before the file is resized (the caller writes it
  // again); TrimToLength does the same. THROWS
  // qvt_FileReadOnlyExc on a read-only file, nex_AssertException when the
  // logical length would go below 0. On a throw nothing has changed.
  bool ExtendFile(utl_FileOffset increment) override;
  // Cuts or grows the file to exactly the logical length.
  void TrimToLength() override;
  // The size record at offset (laid out in qvt_FileLayout.h). All three
  // leave the position where it was. CheckSizeRecord THROWS
  // nex_TextException (the corrupt-file text) for the first problem
  // SizeRecordProblems finds: a record that cannot be read whole, holds no
  // file size, names another size than the allocation, or names none and
  // has an unknown marker.
  void WriteSizeRecord(int offset) override;
  void CheckSizeRecord(int offset) override;
  void SizeRecordProblems(int offset, qvt_Problems* problems) override;
  // The status checker's answer; 0 (Unchanged) for a created file, which
  // has no checker: its own process is the writer.
  qvt_FileStatus::QvtFileStatus FileStatus() override;

  // The flag given to the constructor; kept, with no effect.
  bool Flag() const { return m_Flag; }

 private:
  [[noreturn]] void RaiseReadOnly() const;
  void ClearSizeRecord();

  utl_File m_File;
  std::unique_ptr<qvt_Journal> m_Journal;
  bool m_ReadThrough = false;
  int m_SizeRecordOffset = -1;  // where the size record was last written or checked
  // Built for read and update access only.
  std::unique_ptr<qvt_DBStatusCheckerFile> m_StatusChecker;
  bool m_ReadOnly;
  bool m_Flag;
};

#endif  // QVT_IMPL_QVT_FILEREPRLOCAL_H
