// The implementation behind the four qvt_Array handles: one space holding a
// 16-byte header and rows of fixed width, read and written through an I/O
// buffer. Sits on the database core (spaces, I/O buffer, string pool).
#ifndef QVT_IMPL_QVT_ARRAYREPR_H
#define QVT_IMPL_QVT_ARRAYREPR_H

#include <memory>

#include "cow_1DArrayList.h"
#include "cow_String.h"
#include "qvt_ArrayLayout.h"
#include "qvt_Handle.h"
#include "qvt_IOBuffer.h"
#include "qvt_ObjectFlushCount.h"
#include "utl_FileOffset.h"

class qvt_DatabaseRepr;
class qvt_SpaceRepr;

class qvt_Problems;

// The object's layout is drawn in qvt_ArrayLayout.h.
class qvt_ArrayRepr {
 public:
  static constexpr utl_FileOffset kFlushCountOffset = qvt_ArrayFlushCountOffset;
  static constexpr utl_FileOffset kDataStart = qvt_ArrayHeaderBytes;
  // Bytes moved per step by CreateCopy.
  static constexpr int kCopyChunk = 1048576;

  // Creates a new array object in a new space of database. bufferSize 0
  // means the I/O buffer's default. THROWS a text exception, before anything
  // is created, for a field count below 1 or a type other than 1, 3, 4, 6.
  qvt_ArrayRepr(qvt_DatabaseRepr* database, qvt_Type type, int fieldCount, int increment, int bufferSize);
  // Opens the array object of handle. THROWS the database's message for an
  // invalid handle, then the first refusal of DecodeHeader.
  qvt_ArrayRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int increment, int bufferSize);

  struct Header {
    int flushCount = 0;
    int type = 0;
    int fieldCount = 0;
  };
  // Decodes the first count bytes of the space of object handle, which is
  // spaceLength bytes long, adding what does not hold to problems in the
  // order opening checks it: the corrupt message for a space shorter than
  // the header, the not-an-array message for another marker, the corrupt
  // message for a field count that makes no row. An element type no array
  // holds (RowSize refuses it when rows are used) and rows that are not
  // whole (the row count is rounded) are only reported.
  static Header DecodeHeader(qvt_Handle handle, const unsigned char* bytes, int count,
                             utl_FileOffset spaceLength, qvt_Problems* problems);
  // Writes back what the buffer holds and releases the space; the flush
  // count is not bumped. A failure is reported on standard error.
  virtual ~qvt_ArrayRepr();
  qvt_ArrayRepr(const qvt_ArrayRepr&) = delete;
  qvt_ArrayRepr& operator=(const qvt_ArrayRepr&) = delete;

  qvt_Handle Handle();
  qvt_Type Type() const { return m_Type; }
  int FieldCount() const { return m_FieldCount; }
  // Bytes per row. THROWS "qvt_ArrayRepr::RowSize - illegal array type."
  // for a stored type other than 1, 3, 4, 6.
  int RowSize();
  // Rows, rounded to the nearest whole row.
  int Length();
  // The row at the current position.
  int Location();
  // Moves to the start of row. THROWS for a negative row.
  void Seek(int row);
  // Cuts the array to rows rows and moves to row 0. THROWS on a read-only
  // array and for a negative row count.
  void Truncate(int rows);
  // Writes back and bumps the flush count in the header; answers the new
  // count, or 0 on a read-only array. The position is unchanged.
  int Flush();
  // On a read-only array, picks up another process's flushes: answers the
  // new flush count when the array was flushed since, else 0. The position
  // is unchanged.
  int Snap();
  // 1 when both arrays have the same element type and field count.
  int CopyAllowed(const qvt_ArrayRepr& other) const;
  // Appends every row of other at the end of this array (strings are
  // re-entered in this database's pool). THROWS on a read-only array.
  void Append(qvt_ArrayRepr& other);

  // Typed rows at the position: rowCount x FieldCount() values. Read
  // answers the values read (fewer at the end of the array); Write answers
  // rowCount. THROWS the assertions "data != NULL" and "rowCount > 0".
  int Read(int* data, int rowCount);
  int Read(float* data, int rowCount);
  int Read(double* data, int rowCount);
  int Read(cow_String* data, int rowCount);
  int Write(const int* data, int rowCount);
  int Write(const float* data, int rowCount);
  int Write(const double* data, int rowCount);
  int Write(const cow_String* data, int rowCount);

  // The database's statistics for this object's handle.
  cow_1DArrayList<cow_String> GetObjStatistics();
  utl_FileOffset SpaceLength();
  utl_FileOffset SpaceAllocation();
  qvt_DatabaseRepr* Database() const { return m_Database; }

  // Copies the stored bytes of the array object handle of source into a new
  // object of destination, flush count 0; answers its handle. Rows are never
  // decoded. THROWS the CreateCopy messages, and the assertion "data !=
  // qvt_TypeString" for a pooled-string array.
  static qvt_Handle CreateCopy(qvt_DatabaseRepr& destination, qvt_DatabaseRepr& source, qvt_Handle handle);

 private:
  // The values of rowCount rows, checked for the transfer.
  int ValueCount(const void* data, int rowCount);
  // Reads count values of a plain type: through the buffer's block, or for
  // a transfer of at least a block straight into data (see the .cpp).
  template <class T>
  int ReadValues(T* data, int count);

  qvt_DatabaseRepr* m_Database;
  std::unique_ptr<qvt_SpaceRepr> m_Space;
  qvt_IOBuffer m_Buffer;
  qvt_Type m_Type = qvt_TypeNone;
  int m_FieldCount = 0;
  qvt_ObjectFlushCount m_FlushCount;
};

#endif  // QVT_IMPL_QVT_ARRAYREPR_H
