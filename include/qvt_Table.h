// A table of a database: a growable sequence of rows of one table class,
// given out by qvt_Database::Table. Copying a handle shares the table; the
// last copy flushes it and frees its rows. Every table must be destroyed
// before the last qvt_Database handle of its database.
#ifndef QVT_INCLUDE_QVT_TABLE_H
#define QVT_INCLUDE_QVT_TABLE_H

#include <vector>

#include "cow_CountedHld.h"
#include "cow_String.h"
#include "qvt_FieldHandle.h"
#include "qvt_Handle.h"
#include "qvt_Row.h"
#include "qvt_TableMetadata.h"
#include "utl_FileOffset.h"

class qvt_TableRepr;

class qvt_Table {
 public:
  // Takes ownership of repr (built by qvt_Database::Table).
  explicit qvt_Table(qvt_TableRepr* repr);
  qvt_Table(const qvt_Table& other);
  qvt_Table& operator=(const qvt_Table& other);
  ~qvt_Table();

  // The handle of the table's space.
  qvt_Handle Handle();
  // The number of rows, new rows not yet flushed included.
  int Length() const;
  // The row that ReadRow(-1) and UpdateRow(-1) address next.
  int Location() const;
  void Seek(int row);
  // Keeps the first rows rows: flushes, then drops the rest (handles on
  // dropped rows no longer reach them). THROWS "***ERROR: Attempt to
  // truncate read only table." on a read-only database, and "qvt_TableRepr::
  // Truncate - Invalid row count ..." for a negative count.
  void Truncate(int rows);
  // Writes modified rows in ascending order, then raises and answers the
  // flush count. Without changes since the last Flush, writes nothing.
  int Flush();
  // For a reader, after the database's Snap: takes up rows the writer has
  // flushed since. Answers the table's flush count when that changed or
  // rows came, or 0 when nothing changed (always 0 on a writable
  // database). The row count never shrinks.
  int Snap();
  int GetFlushCount() const;
  // Reserves room in the file for rows more rows (nothing on a read-only
  // database or for rows below 1).
  void Extend(int rows);
  int RowSize() const;
  // The named field's type, qvt_TypeNone when the name is not a field.
  qvt_Type Type(const cow_String& name);
  // The named field's index, -1 when the name is not a field.
  int Index(const cow_String& name) const;
  const qvt_TableMetadata& TableMetadata() const;
  const qvt_FieldMap& GetFieldMap() const;
  const qvt_FieldMetadata& GetFieldMD(const qvt_FieldHandle& field);
  // 1 when the row exists; a negative row asks about Location().
  int RowExists(int row);
  // The row to read; a negative row means Location(). Location() becomes
  // row + 1. THROWS (and prints on standard error) "qvt_TableRepr::ReadRow -
  // Row does not exist for table '<class>', index: <row>, len: <rows>".
  qvt_Row ReadRow(int row);
  // The row to change; row Length() makes a new row. THROWS like ReadRow
  // with "qvt_TableRepr::UpdateRow - Row does not exist ...", and the
  // read-only message on a read-only database.
  qvt_Row UpdateRow(int row);
  // A new row at the end, without data. THROWS the read-only message on a
  // read-only database, and "qvt_TableRepr::NewRow - Table '<class>' has no
  // stored fields and holds no rows." for a class without stored fields.
  qvt_Row NewRow();
  // The database's statistics lines for the table's space: one line
  // "Linkage_Count=<extents>".
  std::vector<cow_String> GetObjStatistics() const;
  utl_FileOffset SpaceLength() const;
  utl_FileOffset SpaceAllocation() const;
  // This class's CopyAllowed of other's (see qvt_TableMetadata).
  int CopyAllowed(const qvt_Table& other) const;
  // Appends every row of source: block copy for identical layouts, row by
  // row otherwise, with strings pooled again in this database. THROWS
  // "qvt_TableRepr::Append - Attempt to append to read only table." and
  // "qvt_TableRepr::Append - table being appended to \"<class>\" does not
  // have compatible metadata.".
  void Append(const qvt_Table& source);

  // The implementation, for the library's own use.
  qvt_TableRepr* Repr() const { return m_Repr.Get(); }

 private:
  cow_CountedHld<qvt_TableRepr> m_Repr;
};

#endif  // QVT_INCLUDE_QVT_TABLE_H
