// A handle on one row of a table, given out by qvt_Table's ReadRow,
// UpdateRow and NewRow. Copying a handle shares the row. The row belongs to
// its table: once the table has truncated it away or been destroyed, every
// operation on the handle is refused with an exception.
#ifndef QVT_INCLUDE_QVT_ROW_H
#define QVT_INCLUDE_QVT_ROW_H

#include "cow_String.h"
#include "qvt_FieldHandle.h"
#include "qvt_Handle.h"
#include "qvt_TableMetadata.h"

class qvt_RowRepr;
class qvt_RowImpl;
class qvt_TableRepr;

class qvt_Row {
 public:
  // A handle on no row; every field operation on it is refused.
  qvt_Row();
  qvt_Row(const qvt_Row& other);
  qvt_Row& operator=(const qvt_Row& other);
  ~qvt_Row();

  // Lets go of the row; the handle then refers to none.
  void Nullify();

  // 1 when the field is part of the table's stored layout, else 0.
  int FieldIsPresent(const qvt_FieldHandle& field) const;
  // 1 when the field is stored and this row holds data for it, else 0.
  int DataIsPresent(const qvt_FieldHandle& field) const;

  // Typed reads. THROWS "***ERROR: Can't find field..." or "***ERROR: Field
  // type mismatch..." for a field that is unknown, not stored or of another
  // type, and "qvt_RowImpl::PrepReadField: Attempt to access absent field
  // data in ODB/CAE file (<class>:<field name>). File may be unreadable."
  // when this row holds no data for it.
  int ReadFieldInt(const qvt_FieldHandle& field) const;
  float ReadFieldFloat(const qvt_FieldHandle& field) const;
  double ReadFieldDouble(const qvt_FieldHandle& field) const;
  qvt_Handle ReadFieldHandle(const qvt_FieldHandle& field);
  cow_String ReadFieldString(const qvt_FieldHandle& field);

  // Typed writes: store the value and mark the field as holding data.
  // THROWS the field messages above, and "The output database was opened
  // as read-only. Modification of data is not permitted." on a read-only
  // database. A string is added to the database's string pool.
  void WriteFieldInt(const qvt_FieldHandle& field, int value);
  void WriteFieldFloat(const qvt_FieldHandle& field, float value);
  void WriteFieldDouble(const qvt_FieldHandle& field, double value);
  void WriteFieldHandle(const qvt_FieldHandle& field, qvt_Handle value);
  void WriteFieldString(const qvt_FieldHandle& field, const cow_String& value);
  // Rewrites in place, in the string pool, the string this row's field
  // refers to (cut or zero-padded to the stored length). Every other
  // reference to that pooled string sees the change.
  void NeuterFieldString(const qvt_FieldHandle& field, const cow_String& value);

  // The row's index in its table.
  int Location() const;
  // Copies one field from other, which may belong to another table or
  // another database. Nothing happens when other holds no data for it.
  // THROWS "qvt_RowImpl::CopyField: Attempt to copy handle type field..  No
  // can do." for a handle field, and the field messages above.
  void CopyField(const qvt_Row& other, const qvt_FieldHandle& field);
  // Removes one field's data (the field must be stored), or all of it.
  void Erase(const qvt_FieldHandle& field);
  void Erase();
  // The table class's fields.
  const qvt_FieldMap& FieldMetadataMap() const;

  // Every operation above except Nullify THROWS "qvt_Row: The row handle
  // does not refer to a row." on a handle without a row, and "qvt_Row: The
  // row no longer exists in table '<class>': ..." on a row that its table
  // truncated away or dropped when it closed.

 private:
  friend class qvt_TableRepr;
  // Takes a share of repr (the table's cache entry).
  explicit qvt_Row(qvt_RowRepr* repr);
  void Take(qvt_RowRepr* repr);
  void Release();
  qvt_RowImpl& Impl() const;

  qvt_RowRepr* m_Repr;
};

#endif  // QVT_INCLUDE_QVT_ROW_H
