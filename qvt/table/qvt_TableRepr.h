// A table: fixed-size rows back to back in one space, read and written
// through a 1024-byte I/O buffer and a cache of rows handed out as qvt_Row
// handles. Sits on a space of the database (qvt_SpaceRepr) and takes its
// layout from a table class in the metadata pool.
#ifndef QVT_IMPL_QVT_TABLEREPR_H
#define QVT_IMPL_QVT_TABLEREPR_H

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "cow_String.h"
#include "qvt_IOBuffer.h"
#include "qvt_Row.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TableLayout.h"
#include "qvt_TableMetadata.h"

class qvt_DatabaseRepr;
class qvt_RowImpl;
class qvt_RowRepr;
class qvt_StringManager;

class qvt_Problems;
struct qvt_ClassRecord;

// The table's layout is drawn in qvt_TableLayout.h.
class qvt_TableRepr {
 public:
  static constexpr int kBufferSize = 1024;
  static constexpr int kDefaultCacheSize = 32;

  // A new table of metadata's class (bound in the database's pool first, so
  // the table uses the pool's object) in a new space. THROWS the Setup
  // message for a field type a row cannot hold, before any space is made.
  qvt_TableRepr(qvt_DatabaseRepr* database, const qvt_TableMetadata& metadata, int increment, int cacheSize);
  // The existing table of handle. Its class must be bound. THROWS the first
  // refusal of DecodeHeader, then the pool's "Can't find metadata with
  // handle." for an unbound class.
  qvt_TableRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int increment, int cacheSize);

  struct Header {
    int flushCount = 0;
    int metadataHandle = 0;
  };
  // Decodes the first count bytes of the space of table handle, which is
  // spaceLength bytes long, adding what does not hold to problems in the
  // order opening checks it: the "table format is corrupt" message for a
  // space shorter than the header, "Handle is not to a table object" for
  // another marker.
  static Header DecodeHeader(qvt_Handle handle, const unsigned char* bytes, int count,
                             utl_FileOffset spaceLength, qvt_Problems* problems);
  // Checks a decoded header against the class record at its metadata
  // handle (nullptr when no record starts there) and the rows against the
  // class's row size. Only reported: a reader finds its class among the
  // bound ones, and rounds the row count.
  static void ClassProblems(qvt_Handle handle, const Header& header, const qvt_ClassRecord* record,
                            utl_FileOffset spaceLength, qvt_Problems* problems);
  // Flushes (failures reported on standard error), frees the cached rows
  // (handles still on them keep an entry without a row), the buffer and
  // the space.
  ~qvt_TableRepr();
  qvt_TableRepr(const qvt_TableRepr&) = delete;
  qvt_TableRepr& operator=(const qvt_TableRepr&) = delete;

  qvt_Handle Handle() const { return m_Space->Handle(); }
  int Length() const { return m_RowCount; }
  int Location() const { return m_CurrentRow; }
  void Seek(int row) { m_CurrentRow = row; }
  void Truncate(int rows);
  int Flush();
  int Snap();
  int GetFlushCount() const { return m_FlushCount; }
  void Extend(int rows);
  int RowSize() const { return m_RowSize; }
  qvt_Type Type(const cow_String& name) const;
  int Index(const cow_String& name) const;
  const qvt_TableMetadata& TableMetadata() const { return *m_Metadata; }
  const qvt_FieldMap& GetFieldMap() const { return m_Metadata->FieldMap(); }
  const qvt_FieldMetadata& GetFieldMD(const qvt_FieldHandle& handle) const { return m_Metadata->GetFieldMD(handle); }
  int RowExists(int row) const;
  qvt_Row ReadRow(int row);
  qvt_Row UpdateRow(int row);
  qvt_Row NewRow();
  std::vector<cow_String> GetObjStatistics() const;
  utl_FileOffset SpaceLength() const { return m_Space->Length(); }
  utl_FileOffset SpaceAllocation() const { return m_Space->Allocation(); }
  int CopyAllowed(const qvt_TableRepr& other) const { return m_Metadata->CopyAllowed(*other.m_Metadata); }
  void Append(qvt_TableRepr& source);
  qvt_DatabaseRepr* Database() const { return m_Database; }

  // ---- For rows ----
  // The position of a field in the row layout, -1 when it has none.
  int Position(const qvt_FieldHandle& handle) const {
    if (handle.ByIndex()) return handle.Index() < m_FieldCount ? m_PositionByIndex[handle.Index()] : -1;
    auto found = m_PositionByName.find(handle.Name());
    return found == m_PositionByName.end() ? -1 : found->second;
  }
  // The position of a field that must exist, be present and have type;
  // otherwise THROWS the metadata's Verify message.
  int ResolveField(const qvt_FieldHandle& handle, qvt_Type type) const {
    const int position = Position(handle);
    if (position >= 0 && m_PositionTypes[position] == type) return position;
    FailResolve(handle, type);
  }
  int FieldOffset(int position) const { return m_FieldOffsets[position]; }
  qvt_Type PositionType(int position) const { return m_PositionTypes[position]; }
  bool MustSwap() const { return m_Swap; }
  qvt_StringManager& StringPool() const { return *m_Pool; }
  // The string a stored reference names, through a small cache of recent
  // references in front of the pool: the pool never moves or changes a
  // record it has handed out, so a reference always names the same text.
  void ReadPooledString(const char* reference, cow_String* text);
  // The reference of a string (added to the pool when new) into reference,
  // through a small cache of recent strings: the pool answers one reference
  // for one string for the life of the database.
  void WritePooledString(const cow_String& text, char* reference);
  bool ReadOnly() const { return m_ReadOnly; }
  // A row of this table changed: the next Flush writes.
  void MarkModified() { m_Modified = true; }
  const cow_String& ClassName() const { return m_Metadata->Name(); }
  int BitmapWords() const { return m_BitmapWords; }
  // The number of positions: the stored fields.
  int PositionCount() const { return static_cast<int>(m_FieldOffsets.size()); }

 private:
  // The row cache is an ordered map from row index to entry, kept as an
  // array sorted by row: read-ahead and new rows arrive in ascending order,
  // so entries are mostly appended, and a walk in row order is a loop.
  struct CacheEntry {
    CacheEntry(int r, qvt_RowRepr* p) : row(r), repr(p) {}
    int row;
    qvt_RowRepr* repr;
  };
  static constexpr std::size_t kNotCached = static_cast<std::size_t>(-1);

  // The bound metadata for a new table, with its field types checked.
  static const qvt_TableMetadata* BindForNewTable(qvt_DatabaseRepr* database, const qvt_TableMetadata& metadata);
  [[noreturn]] void FailResolve(const qvt_FieldHandle& handle, qvt_Type type) const;
  void Setup();
  // Rows of a space of that many bytes; a trailing part of at least half a
  // row counts as a row.
  int RowsIn(utl_FileOffset spaceLength) const;
  utl_FileOffset RowOffset(int row) const {
    return m_DataOffset + static_cast<utl_FileOffset>(row) * m_RowSize;
  }
  [[noreturn]] void FailMissingRow(const char* format, int row) const;
  void RequireWritable() const;

  // The row cache.
  void Load(int row);
  void WriteBack(bool discard);
  void Refill();
  // The slot of row in the cache, or kNotCached. Looks next to the last
  // slot found first, so that walking the rows costs no search.
  std::size_t Find(int row);
  // Enters a new entry for row (not cached yet) holding impl.
  qvt_RowRepr* Enter(int row, qvt_RowImpl* impl);
  qvt_RowImpl* TakeRow(int row);
  // Frees the row of an entry; an entry still referenced keeps no row.
  void Drop(qvt_RowRepr* repr);

  qvt_DatabaseRepr* m_Database;
  const qvt_TableMetadata* m_Metadata;
  int m_FieldCount = 0;
  int m_CurrentRow = 0;
  int m_RowCount = 0;
  int m_CacheSize;
  bool m_Modified = false;
  int m_BitmapWords = 0;
  int m_RowSize = 0;
  std::vector<int> m_FieldOffsets;
  std::vector<qvt_Type> m_PositionTypes;
  std::map<cow_String, int, cow_StringLess> m_PositionByName;
  std::vector<int> m_PositionByIndex;
  std::unique_ptr<qvt_SpaceRepr> m_Space;
  // The members below that start from others are set up here once for both
  // constructors; they rely on the order of declaration.
  qvt_IOBuffer m_Buffer{*m_Space, kBufferSize};  // declared after the space: destroyed before it
  int m_FlushCount = 0;
  int m_DatabaseFlushCount = 0;
  int m_FlushCountOffset = 4;
  int m_DataOffset = 12;
  int m_CacheBudget = m_CacheSize;
  int m_StoredRowCount = 0;
  std::vector<CacheEntry> m_Cache;
  std::size_t m_CacheHint = 0;

  // Fixed for the table's life, kept at hand for row access.
  bool m_ReadOnly = m_Buffer.ReadOnly();
  bool m_Swap = m_Buffer.MustSwap();
  qvt_StringManager* m_Pool = &m_Buffer.StringManager();
  // Recently read references and their strings, by a hash of the
  // reference's bytes; made on the first string read.
  struct StringSlot {
    std::uint64_t reference = 0;
    bool used = false;
    cow_String text;
  };
  static constexpr int kStringSlotBits = 12;
  std::unique_ptr<StringSlot[]> m_StringCache;
  // Recently written strings and their references, by a hash of the text;
  // made on the first string written.
  struct ReferenceSlot {
    bool used = false;
    cow_String text;
    char reference[8] = {};
  };
  std::unique_ptr<ReferenceSlot[]> m_ReferenceCache;
  // Discarded rows and entries, reused rather than allocated anew for
  // every row.
  std::vector<qvt_RowImpl*> m_FreeRows;
  std::vector<qvt_RowRepr*> m_FreeReprs;
};

#endif  // QVT_IMPL_QVT_TABLEREPR_H
