// The metadata pool: one record per table class, back to back in the space
// of handle 3, indexed by class name. Reads a class's fields when a caller
// binds it, appends the records of new classes, and keeps the caller's map
// from class name to class version. Owned by the database base class.
#ifndef QVT_IMPL_QVT_DBMETADATA_H
#define QVT_IMPL_QVT_DBMETADATA_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "cow_String.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_IOBuffer.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TableMetadata.h"
#include "utl_FileOffset.h"

class qvt_Problems;

// A class record of the metadata pool as a scan finds it.
struct qvt_ClassRecord {
  utl_FileOffset offset = 0;  // in the pool: the class's metadata handle
  bool named = false;         // false: the name's reference starts no string
  cow_String name;
  std::vector<int> fieldTypes;  // as stored, valid or not (checker's scan only)
  std::int64_t rowSize = 0;     // of a table's row of this class (checker's scan only)
};

// The pool space starts with its marker (qvt_DatabaseLayout.h); the class
// records (qvt_TableLayout.h) follow back to back.
class qvt_DBMetadata {
 public:
  static constexpr int kBufferSize = 1024;
  static constexpr utl_FileOffset kFirstRecord = qvt_PoolFirstRecord;

  // Reads count bytes of the pool at position; false when they are not
  // all there.
  using Reader = std::function<bool(utl_FileOffset position, unsigned char* bytes, int count)>;
  // The string a stored reference names; false when it names none. The
  // library's lookup throws the string pool's message instead.
  using Lookup = std::function<bool(const unsigned char* reference, cow_String* text)>;
  // Walks the class records of a pool poolSize bytes long, in order, and
  // answers those it could read. Adds to problems, with the refusals of
  // IndexRecords ("***ERROR: Metadata is corrupt in KELVOR database file.",
  // or the end-of-file message for a pool that ends inside a length): a
  // record that ends the walk (cut off inside its head, a length that
  // cannot hold a record, a record running past the pool), a record length
  // no class has (only reported), a name naming no pooled string (only
  // reported), and a class stored twice. withFields also reads each field
  // (type, name, repeated names) and the row size; that checker's walk gives
  // up after 20 problems.
  static std::vector<qvt_ClassRecord> ScanRecords(utl_FileOffset poolSize, const Reader& read,
                                                  const Lookup& lookup, bool withFields,
                                                  qvt_Problems* problems);

  // Takes ownership of space (marker in place); nothing indexed yet.
  explicit qvt_DBMetadata(qvt_SpaceRepr* space);
  // Writes pending record bytes into the space (failures are reported on
  // standard error), then deletes the bound metadata and the space.
  ~qvt_DBMetadata();
  qvt_DBMetadata(const qvt_DBMetadata&) = delete;
  qvt_DBMetadata& operator=(const qvt_DBMetadata&) = delete;

  // Scans the records (ScanRecords) and adds the names not yet indexed.
  // Reads two values per record. THROWS the first refusal of the scan, and
  // the string pool's message for a name it does not hold.
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
