// The string pool of a database file: every pooled string stored once, in
// the space of handle 1, and referred to everywhere else by the offset of
// its record. Lookups are map lookups in memory; new records are written in
// one batch at each Flush of the database.
#ifndef QVT_IMPL_QVT_STRINGMANAGERFILE_H
#define QVT_IMPL_QVT_STRINGMANAGERFILE_H

#include <functional>
#include <map>
#include <memory>
#include <unordered_map>

#include "omi_Swapper.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_StringManager.h"
#include "utl_FileOffset.h"

class qvt_SpaceRepr;

class qvt_Problems;

// Pool space layout, offsets within the space, external byte order:
//
//   OFFSET SIZE CONTENT
//        0    4 int 0xAAFFBBEE, the pool's marker (qvt_DatabaseLayout.h)
//        4    … records, back to back, each starting on a multiple of 4:
//               4 bytes L (int), L bytes of text, zeros up to a multiple of 4
//
// A reference is the offset of a record's L field, stored as a double.
class qvt_StringManagerFile : public qvt_StringManager {
 public:
  // Walks the records in bytes[0, count), which hold the pool from offset
  // start on, in a pool poolLength bytes long, and calls found for each
  // whole record in order. Answers where the records that could be read
  // end: start + count, or the offset of the first record cut off inside
  // its length, with a negative length, or running past the pool, which is
  // then added to problems. Nothing is refused: a reader keeps the records
  // before the damage and reports the damaged stretch when it is asked for
  // a string there.
  static utl_FileOffset ScanRecords(
      const unsigned char* bytes, int count, utl_FileOffset start, utl_FileOffset poolLength,
      const omi_Swapper& swapper, const std::function<void(utl_FileOffset offset, cow_String&& text)>& found,
      qvt_Problems* problems);

  qvt_StringManagerFile();
  // Deletes the pool's space; writes nothing.
  ~qvt_StringManagerFile() override;
  qvt_StringManagerFile(const qvt_StringManagerFile&) = delete;
  qvt_StringManagerFile& operator=(const qvt_StringManagerFile&) = delete;

  // Writes the records that exist only in memory, in one Write. THROWS the
  // read-only message when a read-only database asked for a new string.
  void Flush() override;
  // Overwrites the record that *external names in place, keeping its size:
  // a longer replacement is cut, a shorter one padded with zeros.
  void NeuterString(char* external, const cow_String& replacement) override;
  void InternalizeStrings(const char* external, cow_String* strings, int count) override;
  void ExternalizeStrings(char* external, const cow_String* strings, int count) override;
  int ExternalSize() const override { return 8; }

  // Takes ownership of the pool space (marker in place), forgets every
  // record and reads those stored.
  void Attach(qvt_SpaceRepr* space);
  // The string of the record at offset; reloads once when it is unknown.
  // THROWS "qvt_StringManagerFile::String - String is not available." when
  // no record starts there, and the damaged-pool message when the offset
  // lies in a part of the pool that could not be read.
  cow_String String(utl_FileOffset offset);
  // The reference of value, adding a record in memory when it is new.
  utl_FileOffset StringOffset(const cow_String& value);
  // Reads the records between the known end and the space's length.
  void LoadStrings();

  // Where the next new record goes: the marker, every record, and records
  // not yet flushed.
  utl_FileOffset KnownEnd() const { return m_KnownEnd; }
  // Distinct strings known.
  int StringCount() const { return static_cast<int>(m_Offsets.size()); }
  // Stretches of the pool that could not be read, first offset to end.
  const std::map<utl_FileOffset, utl_FileOffset>& DamagedStretches() const { return m_Damaged; }
  // Deletes the space (the database does so at close); safe to call twice.
  void Release();

 private:
  utl_FileOffset DecodeReference(const unsigned char* bytes) const;

  std::unique_ptr<qvt_SpaceRepr> m_Space;
  omi_Swapper m_Swapper;
  utl_FileOffset m_KnownEnd = qvt_PoolFirstRecord;
  std::unordered_map<cow_String, utl_FileOffset> m_Offsets;
  std::map<utl_FileOffset, cow_String> m_Strings;
  std::map<utl_FileOffset, utl_FileOffset> m_Damaged;
};

#endif  // QVT_IMPL_QVT_STRINGMANAGERFILE_H
