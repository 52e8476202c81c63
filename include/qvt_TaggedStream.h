// A persistent tagged stream of a database: self-describing records, each a
// type code, a writer-chosen identifier and one value, appended by a writer
// and walked from the start with Next. Created and opened by
// qvt_Database::TaggedStream. Copies of a handle share one stream (one
// position, one current record); the last copy writes back its buffer.
// Every stream handle must be gone before the last handle of its database.
#ifndef QVT_INCLUDE_QVT_TAGGEDSTREAM_H
#define QVT_INCLUDE_QVT_TAGGEDSTREAM_H

#include "cow_1DArrayList.h"
#include "cow_CountedHld.h"
#include "cow_String.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

class qvt_TaggedStreamRepr;

class qvt_TaggedStream {
 public:
  // Takes ownership of a newly built implementation (the database interface
  // does this).
  explicit qvt_TaggedStream(qvt_TaggedStreamRepr* repr);
  qvt_TaggedStream(const qvt_TaggedStream& other);
  qvt_TaggedStream& operator=(const qvt_TaggedStream& other);
  ~qvt_TaggedStream();

  qvt_Handle Handle();
  // Writes back and bumps the flush count; answers the new flush count, or
  // 0 on a read-only stream. The position is unchanged.
  int Flush();
  // For a reader after qvt_Database::Snap: answers the stream's new flush
  // count once when its writer flushed it, else 0. The position is
  // unchanged; 0 on a writable stream.
  int Snap();

  // Each writes one record at the position (a new stream is positioned
  // after its header; an opened one at its first record) and makes it the
  // current record. THROWS "The output database was opened as read-only.
  // Modification of data is not permitted." on a read-only stream.
  void WriteInt(int id, int value);
  void WriteFloat(int id, float value);
  void WriteDouble(int id, double value);
  void WriteHandle(int id, qvt_Handle value);
  // A pooled string: stored once in the database's string pool.
  void WriteString(int id, const cow_String& value);
  // A fixed-width string: the text padded with zeros to a multiple of 4
  // bytes; it reads back up to its first zero byte.
  void WriteFixedString(int id, const cow_String& value);

  // Reads the record at the position into the current record and answers
  // true; answers false at the end, leaving the current record as it was.
  // THROWS "***ERROR: Unexpected End Of File." for a record cut off by the
  // end of the stream (a fixed-width text simply ends there), and the
  // assertion "qvt_TaggedStreamRepr::Next: Bad type from Tagged Stream."
  // for a type code of no value.
  bool Next();
  // The current record. Only the value matching GetType() was read; the
  // others are 0, 0.0, handle 0 and "".
  qvt_Type GetType();
  int GetID();
  int GetInt();
  float GetFloat();
  double GetDouble();
  qvt_Handle GetHandle();
  cow_String GetString();

  // The database's statistics for the stream's handle.
  cow_1DArrayList<cow_String> GetObjStatistics();
  utl_FileOffset SpaceLength();
  utl_FileOffset SpaceAllocation();

  // The implementation, for the library's own use.
  qvt_TaggedStreamRepr* Repr() const { return m_Repr.Get(); }

 private:
  cow_CountedHld<qvt_TaggedStreamRepr> m_Repr;
};

#endif  // QVT_INCLUDE_QVT_TAGGEDSTREAM_H
