// A raw byte space of a database: a growable byte stream named by a
// handle, given out by qvt_Database::Space. Copying a handle shares the
// space and its location; the last copy frees it and writes nothing. Every
// space must be destroyed before the last qvt_Database handle of its
// database. Bytes written reach the file at once; the database's Flush
// makes them durable and visible to readers.
#ifndef QVT_INCLUDE_QVT_SPACE_H
#define QVT_INCLUDE_QVT_SPACE_H

#include "cow_CountedHld.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

class qvt_SpaceRepr;

class qvt_Space {
 public:
  // Takes ownership of repr.
  explicit qvt_Space(qvt_SpaceRepr* repr);
  qvt_Space(const qvt_Space& other);
  qvt_Space& operator=(const qvt_Space& other);
  ~qvt_Space();

  qvt_Handle Handle();
  bool ReadOnly() const;
  utl_FileOffset Length();
  // 0 to Length(). THROWS "***ERROR: Invalid seek offset: ..." beyond it.
  void Seek(utl_FileOffset offset);
  // Cuts the length (a longer one changes nothing) and seeks to 0; the
  // reserved room is kept for later writes.
  void Truncate(utl_FileOffset length);
  utl_FileOffset Location();
  void Flush();
  // Reserves room for increment more bytes behind the location. THROWS the
  // read-only message, or "qvt_SpaceReprFile::Extend: Invalid file extend
  // increment specified." for an increment below 1.
  void Extend(utl_FileOffset increment);
  // Answers the bytes read: fewer than count at the end of the space.
  int Read(char* buffer, int count);
  // Answers count. THROWS the read-only message on a read-only database.
  int Write(const char* buffer, int count);
  // Big-endian int at the location. THROWS "***ERROR: Unexpected End Of
  // File." at the end of the space.
  int ReadInt();
  void WriteInt(int value);
  // Bytes reserved for the space.
  utl_FileOffset Allocation();

  // The implementation, for the library's own use.
  qvt_SpaceRepr* Repr() const { return m_Repr.Get(); }

 private:
  cow_CountedHld<qvt_SpaceRepr> m_Repr;
};

#endif  // QVT_INCLUDE_QVT_SPACE_H
