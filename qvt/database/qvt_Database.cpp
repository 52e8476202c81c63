// The public database handle: opening and creating, the database-wide and
// metadata operations forwarded to the implementation, and the spaces and
// tables it gives out. The array and tagged-stream operations live in files
// of their own beside this one.
#include "qvt_Database.h"

#include <memory>

#include "qvt_ArrayLayout.h"
#include "qvt_DBMetadata.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TableRepr.h"
#include "qvt_TaggedStreamLayout.h"

qvt_Database qvt_Database::Open(const qvt_File& file, const cow_String& typeCode) {
  auto repr = std::make_unique<qvt_DatabaseReprFile>();
  repr->Open(file, typeCode);
  return qvt_Database(repr.release());
}

qvt_Database qvt_Database::Create(const qvt_File& file, const cow_String& typeCode, const cow_String& description,
                                  long creationTime) {
  auto repr = std::make_unique<qvt_DatabaseReprFile>();
  repr->Create(file, typeCode, description, creationTime);
  return qvt_Database(repr.release());
}

bool qvt_Database::IsMagic(const qvt_File& file, const cow_String& typeCode) {
  return qvt_DatabaseReprFile::IsMagic(*file.Repr(), typeCode);
}

long qvt_Database::GetCreationTime(const qvt_File& file) {
  return qvt_DatabaseReprFile::GetCreationTime(*file.Repr());
}

qvt_Database::qvt_Database(qvt_DatabaseRepr* repr) : m_Repr(repr) {}
qvt_Database::qvt_Database(const qvt_Database& other) = default;
qvt_Database& qvt_Database::operator=(const qvt_Database& other) = default;
qvt_Database::~qvt_Database() = default;

// ---- The database as a whole ----

const cow_String& qvt_Database::FileName() const { return m_Repr->FileName(); }
cow_String qvt_Database::Description() { return m_Repr->Description(); }
bool qvt_Database::ReadOnly() const { return m_Repr->ReadOnly(); }
void qvt_Database::Flush() { m_Repr->Flush(); }
int qvt_Database::Snap() { return m_Repr->Snap() ? 1 : 0; }
int qvt_Database::GetFlushCount() const { return m_Repr->GetFlushCount(); }
void qvt_Database::SetCreationTime(long creationTime) { m_Repr->SetCreationTime(creationTime); }
qvt_Handle qvt_Database::RootTableHandle() { return m_Repr->RootTableHandle(); }
qvt_Handle qvt_Database::RootTableHandle2() { return m_Repr->RootTableHandle2(); }
qvt_FileStatus::QvtFileStatus qvt_Database::FileStatus() { return m_Repr->FileStatus(); }
atr_String qvt_Database::CheckNODBCache() { return m_Repr->CheckNODBCache(); }
void qvt_Database::ReaderSemaphoreSet() { m_Repr->ReaderSemaphoreSet(); }
void qvt_Database::ReaderSemaphoreClear() { m_Repr->ReaderSemaphoreClear(); }

// ---- Table classes ----

const qvt_TableMetadata& qvt_Database::Bind(const qvt_TableMetadata& metadata) {
  return m_Repr->Metadata().Bind(metadata);
}
void qvt_Database::Bind() { m_Repr->Metadata().Bind(); }
bool qvt_Database::HasTable(const cow_String& className) const { return m_Repr->Metadata().HasTable(className); }
const utl_FileOffset& qvt_Database::GetTableMetadataHandle(const cow_String& className) const {
  return m_Repr->Metadata().GetTableMetadataHandle(className);
}
const qvt_TableMetadata& qvt_Database::GetTableMetadata(const utl_FileOffset& handle) const {
  return m_Repr->Metadata().GetTableMetadata(handle);
}
const qvt_TableMetadata& qvt_Database::GetTableMetadata(const cow_String& className) const {
  return m_Repr->Metadata().GetTableMetadata(className);
}
std::vector<cow_String> qvt_Database::GetTableMetadataNames() { return m_Repr->Metadata().GetTableMetadataNames(); }
void qvt_Database::InsertInMapClassName2ClassVersion(const cow_String& className, int version) {
  m_Repr->Metadata().InsertInMapClassName2ClassVersion(className, version);
}
const std::map<cow_String, int, cow_StringLess>& qvt_Database::GetMapClassName2ClassVersion() const {
  return m_Repr->Metadata().GetMapClassName2ClassVersion();
}

// ---- Objects ----

qvt_Space qvt_Database::Space(const qvt_Handle& handle, int increment) {
  return qvt_Space(m_Repr->Space(handle, increment));
}

qvt_Space qvt_Database::Space(int increment) { return qvt_Space(m_Repr->Space(increment)); }

qvt_Table qvt_Database::Table(const qvt_TableMetadata& metadata, int increment, int cacheSize) {
  return qvt_Table(new qvt_TableRepr(m_Repr.Get(), metadata, increment, cacheSize));
}

qvt_Table qvt_Database::Table(const cow_String& className, int increment, int cacheSize) {
  const qvt_TableMetadata& metadata = m_Repr->Metadata().GetTableMetadata(className);
  return qvt_Table(new qvt_TableRepr(m_Repr.Get(), metadata, increment, cacheSize));
}

qvt_Table qvt_Database::Table(qvt_Handle handle, int increment, int cacheSize) {
  return qvt_Table(new qvt_TableRepr(m_Repr.Get(), handle, increment, cacheSize));
}

qvt_Type qvt_Database::HandleType(const qvt_Handle& handle) {
  // The marker, then for an array the element type behind its flush count.
  int first[qvt_ArrayTypeOffset / 4 + 1] = {};
  {
    std::unique_ptr<qvt_SpaceRepr> space(m_Repr->Space(handle, -1));
    space->ReadIntArray(first, qvt_ArrayTypeOffset / 4 + 1);
  }
  switch (first[0]) {
    case qvt_TableMarker:
      return qvt_TypeTable;
    case qvt_TaggedStreamMarker:
      return qvt_TypeTaggedStream;
    case qvt_ArrayMarker:
      // The element type, when it is one an array can hold; a damaged
      // header answers as any other space.
      switch (first[qvt_ArrayTypeOffset / 4]) {
        case qvt_TypeInt:
        case qvt_TypeFloat:
        case qvt_TypeDouble:
        case qvt_TypeString:
          return static_cast<qvt_Type>(first[qvt_ArrayTypeOffset / 4]);
        default:
          return qvt_TypeOther;
      }
    default:
      return qvt_TypeOther;
  }
}
