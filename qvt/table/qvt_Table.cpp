// The public table handle: a counted share of one qvt_TableRepr; every
// operation forwards to it.
#include "qvt_Table.h"

#include "qvt_TableRepr.h"

qvt_Table::qvt_Table(qvt_TableRepr* repr) : m_Repr(repr) {}
qvt_Table::qvt_Table(const qvt_Table& other) = default;
qvt_Table& qvt_Table::operator=(const qvt_Table& other) = default;
qvt_Table::~qvt_Table() = default;

qvt_Handle qvt_Table::Handle() { return m_Repr->Handle(); }
int qvt_Table::Length() const { return m_Repr->Length(); }
int qvt_Table::Location() const { return m_Repr->Location(); }
void qvt_Table::Seek(int row) { m_Repr->Seek(row); }
void qvt_Table::Truncate(int rows) { m_Repr->Truncate(rows); }
int qvt_Table::Flush() { return m_Repr->Flush(); }
int qvt_Table::Snap() { return m_Repr->Snap(); }
int qvt_Table::GetFlushCount() const { return m_Repr->GetFlushCount(); }
void qvt_Table::Extend(int rows) { m_Repr->Extend(rows); }
int qvt_Table::RowSize() const { return m_Repr->RowSize(); }
qvt_Type qvt_Table::Type(const cow_String& name) { return m_Repr->Type(name); }
int qvt_Table::Index(const cow_String& name) const { return m_Repr->Index(name); }
const qvt_TableMetadata& qvt_Table::TableMetadata() const { return m_Repr->TableMetadata(); }
const qvt_FieldMap& qvt_Table::GetFieldMap() const { return m_Repr->GetFieldMap(); }
const qvt_FieldMetadata& qvt_Table::GetFieldMD(const qvt_FieldHandle& field) { return m_Repr->GetFieldMD(field); }
int qvt_Table::RowExists(int row) { return m_Repr->RowExists(row); }
qvt_Row qvt_Table::ReadRow(int row) { return m_Repr->ReadRow(row); }
qvt_Row qvt_Table::UpdateRow(int row) { return m_Repr->UpdateRow(row); }
qvt_Row qvt_Table::NewRow() { return m_Repr->NewRow(); }
std::vector<cow_String> qvt_Table::GetObjStatistics() const { return m_Repr->GetObjStatistics(); }
utl_FileOffset qvt_Table::SpaceLength() const { return m_Repr->SpaceLength(); }
utl_FileOffset qvt_Table::SpaceAllocation() const { return m_Repr->SpaceAllocation(); }
int qvt_Table::CopyAllowed(const qvt_Table& other) const { return m_Repr->CopyAllowed(*other.m_Repr); }
void qvt_Table::Append(const qvt_Table& source) { m_Repr->Append(*source.m_Repr); }
