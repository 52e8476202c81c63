// The implementation behind qvt_TaggedStream: one space holding an 8-byte
// header and self-describing records, each a type code, a writer-chosen
// identifier and one value, read and written through an I/O buffer. Sits on
// the database core (spaces, I/O buffer, string pool).
#ifndef QVT_IMPL_QVT_TAGGEDSTREAMREPR_H
#define QVT_IMPL_QVT_TAGGEDSTREAMREPR_H

#include <functional>
#include <memory>

#include "cow_1DArrayList.h"
#include "cow_String.h"
#include "qvt_Handle.h"
#include "qvt_IOBuffer.h"
#include "qvt_ObjectFlushCount.h"
#include "qvt_TaggedStreamLayout.h"
#include "utl_FileOffset.h"

class qvt_DatabaseRepr;
class qvt_SpaceRepr;

class qvt_Problems;

// The object's layout is drawn in qvt_TaggedStreamLayout.h.
class qvt_TaggedStreamRepr {
 public:
  static constexpr utl_FileOffset kFlushCountOffset = qvt_TaggedStreamFlushCountOffset;
  static constexpr utl_FileOffset kDataStart = qvt_TaggedStreamHeaderBytes;

  // Creates a new stream in a new space of database (increment -1);
  // bufferSize 0 means the I/O buffer's default. Positioned after the header.
  qvt_TaggedStreamRepr(qvt_DatabaseRepr* database, int bufferSize);
  // Opens the stream of handle, positioned at its first record. THROWS the
  // database's message for an invalid handle, then the first refusal of
  // DecodeHeader.
  qvt_TaggedStreamRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int bufferSize);

  // Decodes the first count bytes of the space of stream handle, which is
  // spaceLength bytes long, and answers its flush count. Adds to problems
  // in the order opening checks them: the corrupt message for a space
  // shorter than the header, the not-a-stream message for another marker.
  static int DecodeHeader(qvt_Handle handle, const unsigned char* bytes, int count,
                          utl_FileOffset spaceLength, qvt_Problems* problems);
  // Reads count bytes of the stream at position; false when they are not
  // all there.
  using Reader = std::function<bool(utl_FileOffset position, unsigned char* bytes, int count)>;
  // Walks the records of a stream spaceLength bytes long, for a checker,
  // and adds the first record that cannot be read to problems: a head or
  // text width cut off, a type code no record has, a text width that is
  // negative or no multiple of 4, a value running past the stream, a string
  // reference that pooled says names no string. Nothing is refused: a
  // reader meets these one record at a time.
  static void RecordProblems(qvt_Handle handle, utl_FileOffset spaceLength, const Reader& read,
                             const std::function<bool(const unsigned char* reference)>& pooled,
                             qvt_Problems* problems);
  // Writes back what the buffer holds and releases the space; the flush
  // count is not bumped. A failure is reported on standard error.
  virtual ~qvt_TaggedStreamRepr();
  qvt_TaggedStreamRepr(const qvt_TaggedStreamRepr&) = delete;
  qvt_TaggedStreamRepr& operator=(const qvt_TaggedStreamRepr&) = delete;

  qvt_Handle Handle();
  // Writes back and bumps the flush count; answers it, or 0 when read-only.
  // The position is unchanged.
  int Flush();
  // On a read-only stream, picks up another process's flushes: answers the
  // new flush count when the stream was flushed since, else 0. The position
  // is unchanged.
  int Snap();

  // Each writes one record at the position and makes it the current record.
  // THROWS the I/O buffer's read-only message on a read-only stream.
  void WriteInt(int id, int value);
  void WriteFloat(int id, float value);
  void WriteDouble(int id, double value);
  void WriteHandle(int id, qvt_Handle value);
  void WriteString(int id, const cow_String& value);
  void WriteFixedString(int id, const cow_String& value);

  // Reads the record at the position into the current record; false at the
  // end, leaving the current record as it was. THROWS "***ERROR: Unexpected
  // End Of File." for a record cut off inside its type, identifier or a
  // scalar, handle or pooled value (a fixed text simply ends with the
  // space), and the assertion "qvt_TaggedStreamRepr::Next: Bad type from
  // Tagged Stream." for a type code that is no value type.
  bool Next();
  // The members of the current record; only the one matching the type holds
  // a value read, the others 0, 0.0, handle 0 and "".
  qvt_Type GetType() const { return m_Type; }
  int GetID() const { return m_ID; }
  int GetInt() const { return m_Int; }
  float GetFloat() const { return m_Float; }
  double GetDouble() const { return m_Double; }
  qvt_Handle GetHandle() const { return m_HandleValue; }
  const cow_String& GetString() const { return m_String; }

  // The database's statistics for this object's handle.
  cow_1DArrayList<cow_String> GetObjStatistics();
  utl_FileOffset SpaceLength();
  utl_FileOffset SpaceAllocation();
  qvt_DatabaseRepr* Database() const { return m_Database; }

 private:
  void WriteRecordHead(qvt_Type type, int id);
  void ClearValues();

  qvt_DatabaseRepr* m_Database;
  std::unique_ptr<qvt_SpaceRepr> m_Space;
  qvt_IOBuffer m_Buffer;
  qvt_ObjectFlushCount m_FlushCount;
  // The current record.
  qvt_Type m_Type = qvt_TypeNone;
  int m_ID = 0;
  int m_Int = 0;
  float m_Float = 0.0f;
  double m_Double = 0.0;
  qvt_Handle m_HandleValue = 0;
  cow_String m_String;
};

#endif  // QVT_IMPL_QVT_TAGGEDSTREAMREPR_H
