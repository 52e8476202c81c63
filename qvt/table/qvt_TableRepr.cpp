// Tables: creating and opening, the row layout, rows by index, flushing and
// refreshing, extending and truncating. The row cache lives in
// qvt_TableReprCache.cpp, appending in qvt_TableReprAppend.cpp.
#include "qvt_TableRepr.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>

#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_DBMetadata.h"
#include "qvt_DatabaseRepr.h"
#include "qvt_Problems.h"
#include "qvt_RowImpl.h"
#include "qvt_TableReprMessages.h"

namespace M = qvt_TableMsg;

namespace {

int FieldWidth(qvt_Type type, int referenceWidth) { return qvt_TableFieldWidth(type, referenceWidth); }

std::int32_t Int32At(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }

}  // namespace

// ---- Construction and layout ----

const qvt_TableMetadata* qvt_TableRepr::BindForNewTable(qvt_DatabaseRepr* database,
                                                         const qvt_TableMetadata& metadata) {
  const qvt_TableMetadata& bound = database->Metadata().Bind(metadata);
  // Checked before a space is made, so a class rows cannot hold leaves no
  // empty object behind.
  for (const auto& entry : bound.FieldMap()) {
    if (entry.second.Present() && FieldWidth(entry.second.Type(), 8) < 0) {
      QVT_TABLE_THROW(M::kInvalidFieldType, entry.first, bound.Name());
    }
  }
  return &bound;
}

qvt_TableRepr::qvt_TableRepr(qvt_DatabaseRepr* database, const qvt_TableMetadata& metadata, int increment,
                             int cacheSize)
    : m_Database(database),
      m_Metadata(BindForNewTable(database, metadata)),
      m_CacheSize(cacheSize < 0 ? kDefaultCacheSize : cacheSize),
      m_Space(database->Space(increment)),
      m_DatabaseFlushCount(database->GetFlushCount()) {
  Setup();
  const utl_FileOffset metadataHandle = database->Metadata().GetTableMetadataHandle(m_Metadata->Name());
  const int header[qvt_TableHeaderBytes / 4] = {qvt_TableMarker, 0,
                                                static_cast<int>(static_cast<std::uint32_t>(metadataHandle))};
  m_Buffer.WriteIntArray(header, qvt_TableHeaderBytes / 4);
  // In the space at once, so that a reader never meets the new handle
  // without its header once the database has flushed.
  m_Buffer.Flush();
}

qvt_TableRepr::qvt_TableRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int increment, int cacheSize)
    : m_Database(database),
      m_Metadata(nullptr),
      m_CacheSize(cacheSize < 0 ? kDefaultCacheSize : cacheSize),
      m_Space(database->Space(handle, increment)),
      m_DatabaseFlushCount(database->GetFlushCount()) {
  unsigned char bytes[qvt_TableHeaderBytes];
  m_Buffer.Seek(0);
  const int got = m_Buffer.Read(reinterpret_cast<char*>(bytes), qvt_TableHeaderBytes);
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  const Header header = DecodeHeader(handle, bytes, got, m_Space->Length(), &problems);
  m_FlushCount = header.flushCount;
  m_Metadata = &database->Metadata().GetTableMetadata(static_cast<utl_FileOffset>(header.metadataHandle));
  Setup();
  m_RowCount = m_StoredRowCount = RowsIn(m_Buffer.Length());
}

qvt_TableRepr::Header qvt_TableRepr::DecodeHeader(qvt_Handle handle, const unsigned char* bytes, int count,
                                                  utl_FileOffset spaceLength, qvt_Problems* problems) {
  Header header;
  const std::string object = "object " + std::to_string(handle);
  if (count < qvt_TableHeaderBytes) {
    problems->Add(
        object + " is a table of " + std::to_string(spaceLength) + " bytes, too short for its header",
        M::kTableFormatCorrupt);
    return header;
  }
  if (Int32At(bytes) != qvt_TableMarker)
    problems->Add(object + " does not start with the table marker", M::kNotATable);
  header.flushCount = Int32At(bytes + qvt_TableFlushCountOffset);
  header.metadataHandle = Int32At(bytes + qvt_TableMetadataOffset);
  return header;
}

void qvt_TableRepr::ClassProblems(qvt_Handle handle, const Header& header, const qvt_ClassRecord* record,
                                  utl_FileOffset spaceLength, qvt_Problems* problems) {
  const std::string object = "object " + std::to_string(handle);
  if (record == nullptr) {
    problems->Add(object + " is a table whose class record would be at offset " +
                  std::to_string(header.metadataHandle) + " of the metadata pool, where no record starts");
    return;
  }
  const std::string table = object + " is a table of class \"" + record->name + "\"";
  const utl_FileOffset rowBytes = spaceLength - qvt_TableHeaderBytes;
  if (record->rowSize == 0) {
    if (rowBytes > 0) {
      problems->Add(table + ", which has no fields, yet holds " + std::to_string(rowBytes) +
                    " bytes of rows");
    }
  } else if (rowBytes % record->rowSize != 0) {
    problems->Add(table + " whose " + std::to_string(rowBytes) + " bytes of rows are not a whole number of " +
                  std::to_string(record->rowSize) + "-byte rows");
  }
}

qvt_TableRepr::~qvt_TableRepr() {
  try {
    Flush();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "*** WARNING: table '%s' was not flushed when it closed: %s\n", ClassName().c_str(),
                 e.what());
  }
  for (const CacheEntry& entry : m_Cache) {
    qvt_RowRepr* repr = entry.repr;
    delete repr->m_Row;
    repr->m_Row = nullptr;
    if (repr->m_ReferenceCount > 0) {
      repr->m_LostClassName = ClassName();  // the handles still on it delete it
    } else {
      delete repr;
    }
  }
  for (qvt_RowImpl* row : m_FreeRows) delete row;
  for (qvt_RowRepr* repr : m_FreeReprs) delete repr;
}

void qvt_TableRepr::Setup() {
  m_FlushCountOffset = qvt_TableFlushCountOffset;
  m_DataOffset = qvt_TableHeaderBytes;
  m_FieldCount = static_cast<int>(m_Metadata->FieldMap().size());
  const int present = m_Metadata->PresentFieldCount();
  m_RowSize = qvt_TableBitmapBytes(present);
  m_BitmapWords = m_RowSize / 4;
  m_FieldOffsets.assign(static_cast<std::size_t>(present), 0);
  m_PositionTypes.assign(static_cast<std::size_t>(present), qvt_TypeNone);
  m_PositionByIndex.assign(static_cast<std::size_t>(m_FieldCount), -1);
  m_PositionByName.clear();
  const int referenceWidth = m_Pool->ExternalSize();
  int position = 0;
  for (const auto& entry : m_Metadata->FieldMap()) {
    const qvt_FieldMetadata& field = entry.second;
    if (!field.Present()) continue;
    const int width = FieldWidth(field.Type(), referenceWidth);
    if (width < 0) QVT_TABLE_THROW(M::kInvalidFieldType, entry.first, ClassName());
    m_FieldOffsets[static_cast<std::size_t>(position)] = m_RowSize;
    m_PositionTypes[static_cast<std::size_t>(position)] = field.Type();
    m_PositionByName.emplace(entry.first, position);
    if (field.Index() >= 0 && field.Index() < m_FieldCount) {
      m_PositionByIndex[static_cast<std::size_t>(field.Index())] = position;
    }
    ++position;
    m_RowSize += width;
  }
}

int qvt_TableRepr::RowsIn(utl_FileOffset spaceLength) const {
  if (m_RowSize <= 0 || spaceLength <= m_DataOffset) return 0;
  const double rows = static_cast<double>(spaceLength - m_DataOffset) / m_RowSize + 0.5;
  if (rows >= static_cast<double>(INT_MAX)) QVT_TABLE_THROW(M::kTableTooLarge, ClassName());
  return static_cast<int>(rows);
}

void qvt_TableRepr::FailResolve(const qvt_FieldHandle& handle, qvt_Type type) const {
  m_Metadata->Verify(handle, type);
  // Verify accepts only present fields of that type, and every one of them
  // has a position of that type.
  nex_AssertException("field accepted by Verify has no position").Throw(__FILE__, __LINE__);
}

qvt_Type qvt_TableRepr::Type(const cow_String& name) const {
  auto found = m_Metadata->FieldMap().find(name);
  return found == m_Metadata->FieldMap().end() ? qvt_TypeNone : found->second.Type();
}

int qvt_TableRepr::Index(const cow_String& name) const {
  auto found = m_Metadata->FieldMap().find(name);
  return found == m_Metadata->FieldMap().end() ? -1 : found->second.Index();
}

std::vector<cow_String> qvt_TableRepr::GetObjStatistics() const { return m_Database->GetObjStatistics(Handle()); }

void qvt_TableRepr::RequireWritable() const {
  if (m_ReadOnly) NEX_THROW_TEXT(cow_String(M::kReadOnly));
}

void qvt_TableRepr::FailMissingRow(const char* format, int row) const {
  const cow_String message = atr_Format(format, ClassName(), row, m_RowCount);
  std::fprintf(stderr, "%s\n", message.c_str());
  NEX_THROW_TEXT(message);
}

// ---- Rows ----

int qvt_TableRepr::RowExists(int row) const {
  if (row < 0) row = m_CurrentRow;
  if (row < 0) return 0;
  return row < m_RowCount ? 1 : 0;
}

qvt_Row qvt_TableRepr::ReadRow(int row) {
  if (row < 0) row = m_CurrentRow;
  if (row < 0) FailMissingRow(M::kReadRowMissing, row);
  m_CurrentRow = row + 1;
  std::size_t slot = Find(row);
  if (slot == kNotCached) {
    --m_CacheBudget;
    Refill();
    Load(row);
    slot = Find(row);
    if (slot == kNotCached) FailMissingRow(M::kReadRowMissing, row);
  }
  return qvt_Row(m_Cache[slot].repr);
}

qvt_Row qvt_TableRepr::UpdateRow(int row) {
  RequireWritable();
  m_Modified = true;
  if (row < 0) row = m_CurrentRow;
  if (row < 0) FailMissingRow(M::kUpdateRowMissing, row);
  if (row == m_RowCount) return NewRow();
  m_CurrentRow = row + 1;
  std::size_t slot = Find(row);
  if (slot == kNotCached) {
    if (m_CacheBudget-- < 1) Refill();
    Load(row);
    slot = Find(row);
    if (slot == kNotCached) FailMissingRow(M::kUpdateRowMissing, row);
  }
  return qvt_Row(m_Cache[slot].repr);
}

qvt_Row qvt_TableRepr::NewRow() {
  RequireWritable();
  if (m_RowSize == 0) QVT_TABLE_THROW(M::kNoStoredFields, ClassName());
  if (m_RowCount == INT_MAX) QVT_TABLE_THROW(M::kTableTooLarge, ClassName());
  m_Modified = true;
  if (m_CacheBudget-- < 1) Refill();
  qvt_RowImpl* row = TakeRow(m_RowCount);
  row->ResetAsNew(m_RowCount);
  qvt_RowRepr* entry = Enter(m_RowCount, row);
  ++m_RowCount;
  m_CurrentRow = m_RowCount;
  row->SetModified();  // written even if no field is ever set
  return qvt_Row(entry);
}

// ---- Flush, snap and size ----

int qvt_TableRepr::Flush() {
  if (m_Modified) {
    if (m_ReadOnly) {
      m_Modified = false;
      return 0;
    }
    WriteBack(false);
    m_Buffer.Seek(m_FlushCountOffset);
    m_Buffer.WriteInt(m_FlushCount + 1);
    m_Buffer.Flush();
    // Only once everything is in the space: a failed Flush leaves the
    // table modified, so the next one writes again.
    ++m_FlushCount;
    m_Modified = false;
  }
  return m_FlushCount;
}

int qvt_TableRepr::Snap() {
  if (!m_ReadOnly) return 0;
  const int databaseFlushCount = m_Database->GetFlushCount();
  if (databaseFlushCount == m_DatabaseFlushCount) return 0;
  m_DatabaseFlushCount = databaseFlushCount;
  // Drop the block the buffer holds: the writer may have changed the bytes
  // behind it.
  m_Buffer.Flush();
  m_Buffer.Seek(m_FlushCountOffset);
  const int flushCount = m_Buffer.ReadInt();
  const bool flushed = flushCount != m_FlushCount;
  if (flushed) {
    m_FlushCount = flushCount;
    WriteBack(true);
    m_Buffer.Flush();
  }
  // The rows follow the space's length in the linkage the database holds,
  // whatever the table's own count says: that count is read from the file
  // as it is now, and may already be that of a flush under way, whose rows
  // the linkage brings only at the database's next refresh.
  const int rows = RowsIn(m_Buffer.Length());
  if (!flushed && rows <= m_RowCount) return 0;
  if (rows > m_RowCount) m_RowCount = rows;
  return m_FlushCount;
}

void qvt_TableRepr::Extend(int rows) {
  if (m_ReadOnly || rows < 1 || m_RowSize == 0) return;
  WriteBack(false);
  m_Buffer.Flush();
  // Room behind the rows already there, so that the next rows rows go into
  // one contiguous stretch.
  m_Buffer.Seek(m_Buffer.Length());
  m_Buffer.Extend(static_cast<utl_FileOffset>(m_RowSize) * rows);
}

void qvt_TableRepr::Truncate(int rows) {
  if (m_ReadOnly) NEX_THROW_TEXT(cow_String(M::kTruncateReadOnly));
  if (rows < 0) QVT_TABLE_THROW(M::kBadTruncate, rows, ClassName());
  Flush();
  m_CurrentRow = 0;
  auto first = std::lower_bound(m_Cache.begin(), m_Cache.end(), rows,
                                [](const CacheEntry& entry, int r) { return entry.row < r; });
  for (auto it = first; it != m_Cache.end(); ++it) Drop(it->repr);
  m_Cache.erase(first, m_Cache.end());
  m_CacheHint = 0;
  m_RowCount = std::min(m_RowCount, rows);
  m_StoredRowCount = std::min(m_StoredRowCount, rows);
  m_Buffer.Flush();
  m_Space->Truncate(RowOffset(rows));
}
