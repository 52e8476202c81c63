// A persistent one-dimensional array of a database: rows of a fixed number
// of values of one element type, named by a handle. One template serves the
// four element types, created and opened by qvt_Database::ArrayInt,
// ArrayFloat, ArrayDouble and ArrayString. Copies of a handle share one
// array (one position, one buffer); the last copy writes back its buffer.
// Every array handle must be gone before the last handle of its database.
#ifndef QVT_INCLUDE_QVT_ARRAY_H
#define QVT_INCLUDE_QVT_ARRAY_H

#include "cow_1DArrayList.h"
#include "cow_CountedHld.h"
#include "cow_String.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

class qvt_ArrayRepr;
class qvt_Database;

// T: the value type; N: the element type code stored (qvt_Type).
template <class T, int N>
class qvt_Array {
 public:
  // Takes ownership of a newly built implementation (the database interface
  // does this).
  explicit qvt_Array(qvt_ArrayRepr* repr);
  qvt_Array(const qvt_Array& other);
  qvt_Array& operator=(const qvt_Array& other);
  ~qvt_Array();

  qvt_Handle Handle();
  // Number of rows (the nearest whole row count of the stored bytes).
  int Length();
  // The row at the current position.
  int Location();
  // Moves to the start of row. THROWS "qvt_ArrayRepr::Seek - Invalid row
  // index %d." for a negative row.
  void Seek(int row);
  // Cuts the array to rows rows and moves to row 0. THROWS "***ERROR:
  // Attempt to truncate read only array." on a read-only array and
  // "qvt_ArrayRepr::Truncate - Invalid row count %d." for a negative count.
  void Truncate(int rows);
  // Writes back and bumps the flush count; answers the new flush count, or
  // 0 on a read-only array. The position is unchanged.
  int Flush();
  // For a reader after qvt_Database::Snap: answers the array's new flush
  // count once when its writer flushed it, else 0. The position is
  // unchanged; 0 on a writable array.
  int Snap();
  int FieldCount();
  qvt_Type Type();
  // Bytes per row. THROWS "qvt_ArrayRepr::RowSize - illegal array type."
  // when the stored type is none of 1, 3, 4, 6.
  int RowSize();
  // The database's statistics for the array's handle.
  cow_1DArrayList<cow_String> GetObjStatistics();
  utl_FileOffset SpaceLength();
  utl_FileOffset SpaceAllocation();

  // 1 when other has the same element type and field count, else 0.
  int CopyAllowed(const qvt_Array& other);
  // Appends every row of other (which may belong to another database:
  // strings are re-entered in this one's pool). Both arrays are flushed
  // first. Element types and field counts are not compared: call
  // CopyAllowed first. REQUIRES: other is not this array (nor a copy of
  // this handle): the assertion "&other != this" fails otherwise. THROWS
  // "qvt_ArrayRepr::Append - Attempt to append to read only array." on a
  // read-only array.
  void Append(qvt_Array& other);
  // Writes rowCount rows (rowCount x FieldCount() values of data) at the
  // position; answers rowCount. THROWS the assertions "data != NULL" and
  // "rowCount > 0", and the read-only message on a read-only array.
  int Write(const T* data, int rowCount);
  // Reads up to rowCount rows into data, which must hold rowCount x
  // FieldCount() values; answers the number of VALUES read, fewer at the
  // end of the array. THROWS the assertions "data != NULL" and
  // "rowCount > 0".
  int Read(T* data, int rowCount);

  // Copies the array object handle of source, byte for byte, into a new
  // object of destination (flush count 0) in chunks of at most 1 MiB;
  // answers the new handle. THROWS the assertion "data != qvt_TypeString"
  // for a pooled-string array (its references belong to one pool), and the
  // "qvt_ArrayRepr::CreateCopy: ..." messages for an object that is no
  // array or reads short.
  static qvt_Handle CreateCopy(qvt_Database& destination, qvt_Database& source, qvt_Handle handle);

  // The implementation, for the library's own use.
  qvt_ArrayRepr* Repr() const { return m_Repr.Get(); }

 private:
  cow_CountedHld<qvt_ArrayRepr> m_Repr;
};

// The four arrays the library provides; no other instantiation exists.
extern template class qvt_Array<int, 1>;
extern template class qvt_Array<float, 3>;
extern template class qvt_Array<double, 4>;
extern template class qvt_Array<cow_String, 6>;

#endif  // QVT_INCLUDE_QVT_ARRAY_H
