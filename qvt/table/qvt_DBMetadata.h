// The metadata pool: one record per table class, back to back in the space
// of handle 3, indexed by class name. Reads a class's fields when a caller
// binds it, appends the records of new classes, and keeps the caller's map
// from class name to class version. Owned by the database base class.
#ifndef QVT_IMPL_QVT_DBMETADATA_H
#define QVT_IMPL_QVT_DBMETADATA_H

#include <map>
#include <memory>
#include <vector>

#include "cow_String.h"
#include "qvt_IOBuffer.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TableMetadata.h"
#include "utl_FileOffset.h"

// Pool space layout, offsets within the space, external byte order:
//
//   OFFSET SIZE CONTENT
//        0    4 int 0xFAAAEBBB, the pool's marker
//        4    … metadata records (see qvt_TableMetadata.cpp), back to back;
//               a record's first int is its whole length
//
// A class's metadata handle is the offset of its record in this space.
class qvt_DBMetadata {
 public:
  static constexpr int kBufferSize = 1024;
  static constexpr utl_FileOffset kFirstRecord = 4;

  // Takes ownership of space (marker in place); nothing indexed yet.
  explicit qvt_DBMetadata(qvt_SpaceRepr* space);
  // Writes pending record bytes into the space (failures are reported on
  // standard error), then deletes the bound metadata and the space.
  ~qvt_DBMetadata();
  qvt_DBMetadata(const qvt_DBMetadata&) = delete;
  qvt_DBMetadata& operator=(const qvt_DBMetadata&) = delete;

  // Scans the records and adds the names not yet indexed. Reads two values
  // per record. THROWS "***ERROR: Metadata is corrupt in KELVOR database
  // file." for a name stored at two offsets or a record length that is not
  // positive, cannot hold a record, or runs past the pool.
  void IndexRecords();
  // Pending record bytes to the space.
  void Flush();
  // The pool space's length as the linkage has it.
  utl_FileOffset PoolSize();

  bool HasTable(const cow_String& name) const;
  // THROWS "***ERROR: Can't find table metadata, \"<name>\" in KELVOR
  // database file." for a class that is not indexed.
  const utl_FileOffset& GetTableMetadataHandle(const cow_String& name) const;
  // The bound metadata at a record offset. THROWS "***ERROR: Can't find
  // metadata with handle." until a Bind has read that record.
  const qvt_TableMetadata& GetTableMetadata(const utl_FileOffset& handle) const;
  const qvt_TableMetadata& GetTableMetadata(const cow_String& name) const;
  // Every indexed name, in name order.
  std::vector<cow_String> GetTableMetadataNames() const;

  // A stored class: reads its record merged with wanted's fields (once;
  // later calls answer the same object). A new class: appends its record
  // and binds a copy. The answer is the pool's object, valid as long as the
  // database. THROWS the merge's type-mismatch message, and the read-only
  // message when a read-only database is asked to store a new class.
  const qvt_TableMetadata& Bind(const qvt_TableMetadata& wanted);
  // Reads every indexed record not bound yet, with the version from the
  // class version map or 1.
  void Bind();

  // A name already present keeps its first version.
  void InsertInMapClassName2ClassVersion(const cow_String& name, int version);
  const std::map<cow_String, int, cow_StringLess>& GetMapClassName2ClassVersion() const { return m_Versions; }

 private:
  int VersionOf(const cow_String& name, int fallback) const;

  std::unique_ptr<qvt_SpaceRepr> m_Space;
  qvt_IOBuffer m_Buffer;  // declared after the space: destroyed before it
  std::map<cow_String, utl_FileOffset, cow_StringLess> m_NameIndex;
  std::map<utl_FileOffset, std::unique_ptr<qvt_TableMetadata>> m_Bound;
  std::map<cow_String, int, cow_StringLess> m_Versions;
};

#endif  // QVT_IMPL_QVT_DBMETADATA_H
