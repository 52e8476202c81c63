// The rollback journal of a writer: before a write changes bytes that the
// last completed flush left in the file, their old contents go to a journal
// file beside it. A writer that opens the file after one that died puts
// them back; a reader of such a file reads through them. Used by the local
// file and by the sector file of a compressed one (file layer).
#ifndef QVT_IMPL_QVT_JOURNAL_H
#define QVT_IMPL_QVT_JOURNAL_H

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "cow_String.h"
#include "utl_File.h"

// The journal file, every integer big-endian:
//
//   OFFSET SIZE CONTENT
//        0    8 "QVTJRNL1"
//        8    8 protected limit: bytes below it belong to the completed flush
//       16    8 the file's size at that flush, restored by a rollback
//       24    4 round: raised at each completed flush of the writer
//       28    4 CRC-32 of bytes 0 to 27
//       32    . records, back to back:
//                 0 8 offset in the database file
//                 8 4 count of saved bytes
//                12 4 CRC-32 of bytes 0 to 11 and the saved bytes,
//                     continuing from the header's CRC
//                16 . the saved bytes
//
// The records that check end at the first one that does not: a writer that
// dies while appending a record has not yet changed the bytes the record
// saves. An empty journal, or one whose header does not check, holds
// nothing to roll back. A completed flush voids the header with one small
// write rather than cutting the file; records of earlier rounds left behind
// it fail the check, since the round enters every record's CRC.
class qvt_Journal {
 public:
  static constexpr int kHeaderBytes = 32;
  static constexpr int kRecordHeaderBytes = 16;

  // The journal's name: the database file's name followed by "-journal".
  static cow_String NameFor(const cow_String& databaseName);

  // database: the open database file; it outlives the journal. With the
  // environment variable KVR_QVT_SYNC set, journal and database are forced
  // to the storage device at each step that the rollback relies on.
  qvt_Journal(const cow_String& databaseName, utl_File& database);
  ~qvt_Journal();
  qvt_Journal(const qvt_Journal&) = delete;
  qvt_Journal& operator=(const qvt_Journal&) = delete;

  // ---- Writer (holds the writer lock) ----
  // Puts back what a writer that died left in the journal, cuts the file to
  // the size of its last completed flush and empties the journal. Answers
  // whether anything was rolled back. Safe to repeat after a crash inside.
  bool Recover();
  // Forgets the journal of whatever file had this name before (create).
  void Discard();
  // From now on the bytes below protectedLimit are those of a completed
  // flush, and restoreSize is the file's size that goes with them.
  void Begin(utl_FileOffset protectedLimit, utl_FileOffset restoreSize);
  // Writes count bytes at offset of the database, first saving the bytes
  // below the protected limit that it changes and that are not saved yet.
  // Bytes that would not change are not written. Leaves the database's
  // position at offset + count and answers count.
  int Write(utl_FileOffset offset, const char* buffer, int count);
  // The writes since Begin form a completed flush: the journal is emptied
  // and a new round begins with the given limits.
  void Commit(utl_FileOffset protectedLimit, utl_FileOffset restoreSize);
  // Removes the journal file; the writer calls it last, after Commit.
  void Remove();

  // ---- Reader ----
  // Takes up the journal of a writer that died (no writer lock held) for
  // reading through. Answers the file's size at its last completed flush,
  // or -1 when there is nothing to read through.
  utl_FileOffset LoadForReading();
  // Puts the saved bytes over what was read at offset.
  void Overlay(utl_FileOffset offset, char* buffer, int count) const;

 private:
  struct Record {
    utl_FileOffset offset;
    std::vector<char> bytes;
  };
  // Reads and checks the journal file; false when it holds nothing usable.
  bool Load(utl_File& journal, utl_FileOffset* limit, utl_FileOffset* restoreSize, std::vector<Record>* records);
  // Appends the records of the unsaved parts of [first, end), whose old
  // bytes start at old.
  void Save(utl_FileOffset first, utl_FileOffset end, const char* old);
  utl_File& JournalFile();

  cow_String m_Name;
  utl_File& m_Database;
  std::unique_ptr<utl_File> m_Journal;
  bool m_Sync;
  bool m_Active = false;
  utl_FileOffset m_Limit = 0;
  utl_FileOffset m_RestoreSize = 0;
  utl_FileOffset m_End = 0;  // bytes of the journal written this round
  std::uint32_t m_Round = 0;
  unsigned long m_HeaderCrc = 0;
  std::map<utl_FileOffset, utl_FileOffset> m_Saved;  // first -> end of saved ranges
  std::vector<char> m_Old;
  std::vector<unsigned char> m_Out;
  std::vector<Record> m_Overlay;  // a reader's, in journal order
};

#endif  // QVT_IMPL_QVT_JOURNAL_H
