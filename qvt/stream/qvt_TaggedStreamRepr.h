// The implementation behind qvt_TaggedStream: one space holding an 8-byte
// header and self-describing records, each a type code, a writer-chosen
// identifier and one value, read and written through an I/O buffer. Sits on
// the database core (spaces, I/O buffer, string pool).
#ifndef QVT_IMPL_QVT_TAGGEDSTREAMREPR_H
#define QVT_IMPL_QVT_TAGGEDSTREAMREPR_H

#include <memory>

#include "cow_1DArrayList.h"
#include "cow_String.h"
#include "qvt_Handle.h"
#include "qvt_IOBuffer.h"
#include "qvt_ObjectFlushCount.h"
#include "utl_FileOffset.h"

class qvt_DatabaseRepr;
class qvt_SpaceRepr;

// Object layout in the stream's space; ints are 32-bit, every value in the
// file's external (big-endian) order:
//
//   OFFSET SIZE CONTENT
//        0    4 magic 0xFAAFEBBE
//        4    4 flush count: 0 at creation, +1 at each Flush
//        8    … records back to back
//
// Record:
//
//   OFFSET SIZE    CONTENT
//        0    4    type code (qvt_Type)
//        4    4    identifier
//        8    …    value by type code:
//                    1 int        4  the int
//                    2 handle     8  the 32-bit handle, then 4 zero bytes
//                    3 float      4  the float
//                    4 double     8  the double
//                    6 string     8  pooled-string reference
//                    7 fixed    4+w  int w (text length rounded up to a
//                                    multiple of 4), then w bytes of text
//                                    padded with zeros
class qvt_TaggedStreamRepr {
 public:
  static constexpr int kMagic = static_cast<int>(0xFAAFEBBEu);
  static constexpr utl_FileOffset kFlushCountOffset = 4;
  static constexpr utl_FileOffset kDataStart = 8;

  // Creates a new stream in a new space of database (increment -1);
  // bufferSize 0 means the I/O buffer's default. Positioned after the header.
  qvt_TaggedStreamRepr(qvt_DatabaseRepr* database, int bufferSize);
  // Opens the stream of handle, positioned at its first record. THROWS the
  // corrupt message for a header shorter than 8 bytes, the not-a-stream
  // message for a wrong magic, and the database's message for an invalid
  // handle.
  qvt_TaggedStreamRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int bufferSize);
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
