// The shape of a table class: its name, class version and named, typed
// fields. A shape is defined field by field, or read from its record in the
// database's metadata pool, where it may be merged with the shape a caller
// wants. Tables and rows take their layout from it.
#ifndef QVT_INCLUDE_QVT_TABLEMETADATA_H
#define QVT_INCLUDE_QVT_TABLEMETADATA_H

#include <map>
#include <vector>

#include "cow_String.h"
#include "qvt_FieldHandle.h"
#include "qvt_Handle.h"

class qvt_IOS;

// One field of a table class.
class qvt_FieldMetadata {
 public:
  // The "novalue" field: type qvt_TypeNone, index -1, present 1. Answered by
  // lookups by name that find nothing.
  qvt_FieldMetadata();
  qvt_FieldMetadata(const cow_String& name, qvt_Type type, int index, int present = 1);
  qvt_FieldMetadata(const qvt_FieldMetadata&) = default;
  qvt_FieldMetadata& operator=(const qvt_FieldMetadata&) = default;
  virtual ~qvt_FieldMetadata() = default;

  const cow_String& Name() const { return m_Name; }
  qvt_Type Type() const { return m_Type; }
  // The field's number within its table class, from 0; -1 for "novalue".
  int Index() const { return m_Index; }
  // 1 when the field is part of the stored layout; 0 when a caller asked
  // for it but the stored class lacks it.
  int Present() const { return m_Present; }

  // Writes this field's part of a metadata record: its type as an int, then
  // its name as a pooled string. THROWS what the stream throws.
  virtual void WriteTo(qvt_IOS& stream) const;

 private:
  friend class qvt_TableMetadata;

  cow_String m_Name;
  qvt_Type m_Type;
  int m_Index;
  int m_Present;
};

// Fields by name. Keys follow cow_StringLess: byte order, or natural order
// while the process-wide switch is on (set it before building shapes). The
// map's order is the order of fields in records and in rows.
using qvt_FieldMap = std::map<cow_String, qvt_FieldMetadata, cow_StringLess>;

class qvt_TableMetadata {
 public:
  // An empty shape of that class name and version, to be defined field by
  // field.
  qvt_TableMetadata(const cow_String& className, int classVersion);
  // Reads the record at the stream's location (normally the metadata pool's
  // I/O buffer); fields get their rank in the record as index.
  // THROWS nex_TextException "***ERROR: Duplicate field metadata definition:
  // \"<name>\"" for a name met twice, "***ERROR: Metadata is corrupt in
  // KELVOR database file." for a record length that cannot hold a name and
  // whole fields, and the stream's end-of-file message.
  qvt_TableMetadata(qvt_IOS& stream, int classVersion);
  // Reads the record and merges the caller's wanted fields into it: wanted
  // fields keep their indices (present when stored, absent otherwise), and
  // stored fields the caller did not name get indices behind them.
  // THROWS "***ERROR: Field type mismatch: <name>" when a wanted field's
  // type differs from the stored one, and what the plain read throws.
  qvt_TableMetadata(qvt_IOS& stream, qvt_FieldMap wanted, int classVersion);
  qvt_TableMetadata(const qvt_TableMetadata& other);
  // A copy with another class version.
  qvt_TableMetadata(const qvt_TableMetadata& other, int classVersion);
  qvt_TableMetadata& operator=(const qvt_TableMetadata& other);
  ~qvt_TableMetadata();

  // Add a field and answer its index (the number of fields defined before).
  // THROWS "***ERROR: Duplicate field metadata definition: \"<name>\"" when
  // the name is taken; the shape is then unchanged.
  int DefineIntField(const cow_String& name);
  int DefineHandleField(const cow_String& name);
  int DefineFloatField(const cow_String& name);
  int DefineDoubleField(const cow_String& name);
  int DefineStringField(const cow_String& name);

  // Returns when the field exists, is present and has that type.
  // THROWS, by index, "***ERROR: Can't find field by index: <i>" or
  // "***ERROR: Field type mismatch by index: <i>"; by name "***ERROR: Can't
  // find field: \"<name>\"" or "***ERROR: Field type mismatch: \"<name>\"".
  void Verify(const qvt_FieldHandle& handle, qvt_Type type) const;
  // The field of the handle; the "novalue" field when there is none. The
  // reference lives as long as this shape.
  const qvt_FieldMetadata& GetFieldMD(const qvt_FieldHandle& handle) const;
  // Whether rows of this shape can take the rows of other field by field:
  // 0 no; 1 the same plain fields; 2 the same fields, strings among them;
  // 3 every field here is in other, but other has more present fields.
  int CopyAllowed(const qvt_TableMetadata& other) const;
  // Writes the record (length, class name, then type and name of every
  // field in map order) at the stream's location.
  void WriteTo(qvt_IOS& stream) const;

  const cow_String& Name() const { return m_Name; }
  int ClassVersion() const { return m_ClassVersion; }
  // The number of fields, and so one past the highest index.
  int FieldCount() const { return m_FieldCount; }
  const qvt_FieldMap& FieldMap() const { return m_FieldMap; }
  // The field whose index is index, or null when there is none.
  const qvt_FieldMetadata* FieldByIndex(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < m_IndexTable.size() ? m_IndexTable[index]
                                                                                 : nullptr;
  }
  // The number of fields that are part of the stored layout.
  int PresentFieldCount() const;
  // The bytes of one record of this shape, given the width of a pooled
  // string reference.
  int RecordLength(int referenceWidth) const;

 private:
  qvt_TableMetadata();
  int Define(const cow_String& name, qvt_Type type);
  // Reads the record's length and class name; answers the stream offset at
  // which the record ends.
  long long ReadHeader(qvt_IOS& stream);
  // Points entry i of the index table at the field whose index is i.
  void BuildIndexTable();

  cow_String m_Name;
  int m_FieldCount = 0;
  qvt_FieldMap m_FieldMap;
  std::vector<const qvt_FieldMetadata*> m_IndexTable;
  int m_ClassVersion = 0;
};

#endif  // QVT_INCLUDE_QVT_TABLEMETADATA_H
