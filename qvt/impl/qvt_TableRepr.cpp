// Tables: creating and opening, the row layout, the row cache with its
// read-ahead and ordered write-back, flushing and refreshing, extending,
// truncating and appending. Sections: construction and layout; rows; cache;
// flush, snap and size; append.
#include "qvt_TableRepr.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>

#include "nex_Exception.h"
#include "qvt_DBMetadata.h"
#include "qvt_DatabaseRepr.h"
#include "qvt_RowImpl.h"
#include "qvt_TableReprMessages.h"

namespace M = qvt_TableMsg;

namespace {

// Bytes a field of type takes in a row, -1 for a type rows cannot hold.
int FieldWidth(qvt_Type type, int referenceWidth) {
  switch (type) {
    case qvt_TypeInt:
    case qvt_TypeFloat:
      return 4;
    case qvt_TypeHandle:
    case qvt_TypeDouble:
      return 8;
    case qvt_TypeString:
      return referenceWidth;
    default:
      return -1;
  }
}

bool Bit(const std::vector<std::uint32_t>& bits, int position) {
  return (bits[static_cast<std::size_t>(position) >> 5] >> (position & 31)) & 1u;
}

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
      m_Buffer(*m_Space, kBufferSize),
      m_DatabaseFlushCount(database->GetFlushCount()),
      m_CacheBudget(m_CacheSize),
      m_ReadOnly(m_Buffer.ReadOnly()),
      m_Swap(m_Buffer.MustSwap()),
      m_Pool(&m_Buffer.StringManager()) {
  Setup();
  const utl_FileOffset metadataHandle = database->Metadata().GetTableMetadataHandle(m_Metadata->Name());
  const int header[3] = {kMagic, 0, static_cast<int>(static_cast<std::uint32_t>(metadataHandle))};
  m_Buffer.WriteIntArray(header, 3);
  // In the space at once, so that a reader never meets the new handle
  // without its header once the database has flushed.
  m_Buffer.Flush();
}

qvt_TableRepr::qvt_TableRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int increment, int cacheSize)
    : m_Database(database),
      m_Metadata(nullptr),
      m_CacheSize(cacheSize < 0 ? kDefaultCacheSize : cacheSize),
      m_Space(database->Space(handle, increment)),
      m_Buffer(*m_Space, kBufferSize),
      m_DatabaseFlushCount(database->GetFlushCount()),
      m_CacheBudget(m_CacheSize),
      m_ReadOnly(m_Buffer.ReadOnly()),
      m_Swap(m_Buffer.MustSwap()),
      m_Pool(&m_Buffer.StringManager()) {
  int header[3] = {0, 0, 0};
  m_Buffer.Seek(0);
  if (m_Buffer.ReadIntArray(header, 3) < 3) NEX_THROW_TEXT(cow_String(M::kTableFormatCorrupt));
  if (header[0] != kMagic) NEX_THROW_TEXT(cow_String(M::kNotATable));
  m_FlushCount = header[1];
  m_Metadata = &database->Metadata().GetTableMetadata(static_cast<utl_FileOffset>(header[2]));
  Setup();
  m_RowCount = m_StoredRowCount = RowsIn(m_Buffer.Length());
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
  m_FlushCountOffset = 4;
  m_DataOffset = 12;
  m_FieldCount = static_cast<int>(m_Metadata->FieldMap().size());
  const int present = m_Metadata->PresentFieldCount();
  m_BitmapWords = (present + 31) / 32;
  m_RowSize = 4 * m_BitmapWords;
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

void qvt_TableRepr::ReadPooledString(const char* reference, cow_String* text) {
  if (m_Pool->ExternalSize() != sizeof(std::uint64_t)) {
    m_Pool->InternalizeStrings(reference, text, 1);
    return;
  }
  std::uint64_t key;
  std::memcpy(&key, reference, sizeof key);
  if (!m_StringCache) m_StringCache.reset(new StringSlot[std::size_t{1} << kStringSlotBits]);
  StringSlot& slot = m_StringCache[(key * 0x9E3779B97F4A7C15ull) >> (64 - kStringSlotBits)];
  if (!slot.used || slot.reference != key) {
    m_Pool->InternalizeStrings(reference, &slot.text, 1);
    slot.reference = key;
    slot.used = true;
  }
  *text = slot.text;
}

void qvt_TableRepr::WritePooledString(const cow_String& text, char* reference) {
  if (m_Pool->ExternalSize() != static_cast<int>(sizeof(ReferenceSlot::reference))) {
    m_Pool->ExternalizeStrings(reference, &text, 1);
    return;
  }
  // FNV-1a: cheap on the short texts rows hold.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  // Its top bits barely depend on the last bytes: mix before taking them.
  hash ^= hash >> 29;
  hash *= 0x9E3779B97F4A7C15ull;
  if (!m_ReferenceCache) m_ReferenceCache.reset(new ReferenceSlot[std::size_t{1} << kStringSlotBits]);
  ReferenceSlot& slot = m_ReferenceCache[hash >> (64 - kStringSlotBits)];
  if (!slot.used || slot.text != text) {
    m_Pool->ExternalizeStrings(slot.reference, &text, 1);
    slot.text = text;
    slot.used = true;
  }
  std::memcpy(reference, slot.reference, sizeof slot.reference);
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

// ---- The row cache ----

qvt_RowImpl* qvt_TableRepr::TakeRow(int row) {
  if (m_FreeRows.empty()) return new qvt_RowImpl(this, row, m_RowSize, m_BitmapWords);
  qvt_RowImpl* impl = m_FreeRows.back();
  m_FreeRows.pop_back();
  impl->SetLocation(row);
  return impl;
}

std::size_t qvt_TableRepr::Find(int row) {
  const std::size_t size = m_Cache.size();
  std::size_t slot = m_CacheHint;
  if (slot < size && m_Cache[slot].row == row) return slot;
  if (++slot < size && m_Cache[slot].row == row) return m_CacheHint = slot;
  auto found = std::lower_bound(m_Cache.begin(), m_Cache.end(), row,
                                [](const CacheEntry& entry, int r) { return entry.row < r; });
  if (found == m_Cache.end() || found->row != row) return kNotCached;
  return m_CacheHint = static_cast<std::size_t>(found - m_Cache.begin());
}

qvt_RowRepr* qvt_TableRepr::Enter(int row, qvt_RowImpl* impl) {
  qvt_RowRepr* repr;
  if (m_FreeReprs.empty()) {
    repr = new qvt_RowRepr;
  } else {
    repr = m_FreeReprs.back();
    m_FreeReprs.pop_back();
  }
  repr->m_ReferenceCount = 0;
  repr->m_Row = impl;
  repr->m_LostClassName.clear();
  if (m_Cache.empty() || m_Cache.back().row < row) {
    m_Cache.emplace_back(row, repr);
  } else {
    auto at = std::lower_bound(m_Cache.begin(), m_Cache.end(), row,
                               [](const CacheEntry& entry, int r) { return entry.row < r; });
    NEX_ASSERT(at == m_Cache.end() || at->row != row);
    m_Cache.insert(at, CacheEntry(row, repr));
  }
  return repr;
}

void qvt_TableRepr::Drop(qvt_RowRepr* repr) {
  m_FreeRows.push_back(repr->m_Row);
  repr->m_Row = nullptr;
  if (repr->m_ReferenceCount > 0) {
    repr->m_LostClassName = ClassName();  // the last handle on it deletes it
  } else {
    m_FreeReprs.push_back(repr);
  }
}

void qvt_TableRepr::Load(int row) {
  // A cache of size 0 still reads the row asked for.
  const int limit = static_cast<int>(std::min<long long>(m_RowCount, static_cast<long long>(row) + std::max(m_CacheSize, 1)));
  int r = row;
  while (r < limit) {
    if (Find(r) != kNotCached) {
      ++r;
      continue;
    }
    // A run of rows not cached, read window by window of whole rows.
    auto next = std::lower_bound(m_Cache.begin(), m_Cache.end(), r,
                                 [](const CacheEntry& entry, int x) { return entry.row < x; });
    const int end = next == m_Cache.end() ? limit : std::min(limit, next->row);
    m_Buffer.Seek(RowOffset(r));
    while (r < end) {
      if (m_RowSize <= m_Buffer.Size() && m_Buffer.PrepRead(m_RowSize, end - r)) {
        const char* window = m_Buffer.Window();
        const int rows = m_Buffer.WindowCount();
        for (int k = 0; k < rows; ++k, ++r, window += m_RowSize) {
          qvt_RowImpl* impl = TakeRow(r);
          std::memcpy(impl->Data(), window, static_cast<std::size_t>(m_RowSize));
          impl->LoadBitmap();
          impl->ClearModified();
          Enter(r, impl);
        }
      } else {
        // A row larger than the block, or a last row cut short.
        qvt_RowImpl* impl = TakeRow(r);
        try {
          const int got = m_Buffer.Read(impl->Data(), m_RowSize);
          impl->LoadBitmap();
          if (got < m_RowSize) impl->KeepOnlyBytes(got);
          impl->ClearModified();
        } catch (const std::exception&) {
          m_FreeRows.push_back(impl);
          throw;
        }
        Enter(r, impl);
        ++r;
      }
    }
  }
}

void qvt_TableRepr::WriteBack(bool discard) {
  if (!m_ReadOnly && !m_Cache.empty()) {
    // Rows beyond the stored ones are written from the first up to the
    // highest modified one, so the space never gets a gap.
    int highestNew = -1;
    for (auto it = m_Cache.rbegin(); it != m_Cache.rend() && it->row >= m_StoredRowCount; ++it) {
      if (it->repr->m_Row->Modified()) {
        highestNew = it->row;
        break;
      }
    }
    const int stored = m_StoredRowCount;
    auto marked = [&](const CacheEntry& entry) {
      return entry.row < stored ? entry.repr->m_Row->Modified() : entry.row <= highestNew;
    };
    const std::size_t size = m_Cache.size();
    std::size_t i = 0;
    while (i < size) {
      if (!marked(m_Cache[i])) {
        ++i;
        continue;
      }
      // A run of marked rows that follow each other: written window by
      // window of whole rows.
      std::size_t end = i + 1;
      while (end < size && m_Cache[end].row == m_Cache[end - 1].row + 1 && marked(m_Cache[end])) ++end;
      NEX_ASSERT(m_Cache[i].row <= m_StoredRowCount);
      m_Buffer.Seek(RowOffset(m_Cache[i].row));
      while (i < end) {
        if (m_RowSize <= m_Buffer.Size() && m_Buffer.PrepWrite(m_RowSize, static_cast<int>(end - i))) {
          char* window = m_Buffer.Window();
          const int rows = m_Buffer.WindowCount();
          for (int k = 0; k < rows; ++k, ++i, window += m_RowSize) {
            qvt_RowImpl* row = m_Cache[i].repr->m_Row;
            row->StoreBitmap();
            std::memcpy(window, row->Data(), static_cast<std::size_t>(m_RowSize));
            row->ClearModified();
          }
        } else {
          qvt_RowImpl* row = m_Cache[i].repr->m_Row;
          row->StoreBitmap();
          m_Buffer.Write(row->Data(), m_RowSize);
          row->ClearModified();
          ++i;
        }
      }
      m_StoredRowCount = std::max(m_StoredRowCount, m_Cache[end - 1].row + 1);
    }
  }
  if (discard) {
    std::size_t kept = 0;
    for (const CacheEntry& entry : m_Cache) {
      qvt_RowRepr* repr = entry.repr;
      if (repr->m_ReferenceCount <= 0) {
        m_FreeRows.push_back(repr->m_Row);
        repr->m_Row = nullptr;
        m_FreeReprs.push_back(repr);
      } else {
        m_Cache[kept++] = entry;
      }
    }
    m_Cache.erase(m_Cache.begin() + static_cast<std::ptrdiff_t>(kept), m_Cache.end());
    m_CacheHint = 0;
  }
}

void qvt_TableRepr::Refill() {
  m_CacheBudget = m_CacheSize;
  WriteBack(true);
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
  if (flushCount == m_FlushCount) return 0;
  m_FlushCount = flushCount;
  WriteBack(true);
  m_Buffer.Flush();
  const int rows = RowsIn(m_Buffer.Length());
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

// ---- Append ----

void qvt_TableRepr::Append(qvt_TableRepr& source) {
  if (source.Length() == 0) return;
  if (m_ReadOnly) NEX_THROW_TEXT(cow_String(M::kAppendReadOnly));
  const int compatibility = CopyAllowed(source);
  if (compatibility < 1) QVT_TABLE_THROW(M::kAppendIncompatible, ClassName());

  Flush();
  source.Flush();
  m_Buffer.Flush();
  source.m_Buffer.Flush();
  const int sourceRows = source.m_RowCount;
  // Appending a table to itself reads through a buffer of its own, and
  // both ways stop at the rows there were when the copy began.
  std::unique_ptr<qvt_IOBuffer> ownReader;
  qvt_IOBuffer* reader = &source.m_Buffer;
  if (&source == this) {
    ownReader = std::make_unique<qvt_IOBuffer>(*m_Space, kBufferSize);
    reader = ownReader.get();
  }
  m_Buffer.Seek(m_Buffer.Length());
  reader->Seek(source.m_DataOffset);

  if (compatibility == 1) {
    m_Buffer.Append(*reader);
  } else {
    struct FieldCopy {
      qvt_Type type;
      int sourcePosition;
      int sourceOffset;
      int position;
      int offset;
    };
    std::vector<FieldCopy> fields;
    for (const auto& entry : m_PositionByName) {
      auto there = source.m_PositionByName.find(entry.first);
      NEX_ASSERT(there != source.m_PositionByName.end());
      fields.push_back({m_PositionTypes[static_cast<std::size_t>(entry.second)], there->second,
                        source.FieldOffset(there->second), entry.second, FieldOffset(entry.second)});
    }
    const bool inPlace = compatibility == 2;
    std::vector<char> in(static_cast<std::size_t>(source.m_RowSize));
    std::vector<char> out(inPlace ? 0 : static_cast<std::size_t>(m_RowSize));
    std::vector<std::uint32_t> inBits(static_cast<std::size_t>(source.m_BitmapWords));
    std::vector<std::uint32_t> outBits(static_cast<std::size_t>(m_BitmapWords));
    qvt_StringManager& from = source.StringPool();
    qvt_StringManager& to = StringPool();
    cow_String text;
    for (int k = 0; k < sourceRows; ++k) {
      if (reader->Read(in.data(), source.m_RowSize) < source.m_RowSize) break;
      omi_SwapperGuts::InternalizeArray(m_Swap, in.data(), inBits.data(), inBits.size(), 4);
      char* row = inPlace ? in.data() : out.data();
      if (!inPlace) {
        std::fill(out.begin(), out.end(), '\0');
        std::fill(outBits.begin(), outBits.end(), 0u);
      }
      for (const FieldCopy& f : fields) {
        const bool has = Bit(inBits, f.sourcePosition);
        if (f.type == qvt_TypeString) {
          if (has) {
            from.InternalizeStrings(in.data() + f.sourceOffset, &text, 1);
            to.ExternalizeStrings(row + f.offset, &text, 1);
          } else if (inPlace) {
            // No reference into the source's pool is left behind.
            std::memset(row + f.offset, 0, static_cast<std::size_t>(to.ExternalSize()));
          }
        } else if (!inPlace && has) {
          switch (f.type) {
            case qvt_TypeInt:
            case qvt_TypeFloat:
              std::memcpy(row + f.offset, in.data() + f.sourceOffset, 4);
              break;
            case qvt_TypeDouble:
              std::memcpy(row + f.offset, in.data() + f.sourceOffset, 8);
              break;
            default:
              QVT_TABLE_THROW(M::kAppendInvalidType, ClassName());
          }
        }
        if (!inPlace && has) outBits[static_cast<std::size_t>(f.position) >> 5] |= 1u << (f.position & 31);
      }
      if (!inPlace) omi_SwapperGuts::ExternalizeArray(m_Swap, outBits.data(), out.data(), outBits.size(), 4);
      m_Buffer.Write(row, m_RowSize);
    }
  }
  // The appended bytes may still sit in the buffer: the next Flush writes
  // them and raises the flush count.
  m_Modified = true;
  const int rows = RowsIn(m_Buffer.Length());
  if (rows > m_RowCount) m_RowCount = rows;
  if (rows > m_StoredRowCount) m_StoredRowCount = rows;
}
