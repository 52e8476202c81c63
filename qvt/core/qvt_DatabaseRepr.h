// The database implementation behind the public qvt_Database handle: the
// virtual interface every kind of database offers, and the metadata pool
// (handle 3) that every kind owns. qvt_DatabaseReprFile is the one kind,
// a database kept in a qvt_File.
#ifndef QVT_IMPL_QVT_DATABASEREPR_H
#define QVT_IMPL_QVT_DATABASEREPR_H

#include <memory>
#include <vector>

#include "cow_1DArrayList.h"
#include "cow_String.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

class qvt_DBMetadata;
class qvt_SpaceRepr;

class qvt_DatabaseRepr {
 public:
  qvt_DatabaseRepr();
  // Closing is the derived class's business; the base deletes what is left
  // of the metadata pool.
  virtual ~qvt_DatabaseRepr();
  qvt_DatabaseRepr(const qvt_DatabaseRepr&) = delete;
  qvt_DatabaseRepr& operator=(const qvt_DatabaseRepr&) = delete;

  // The name the file was opened with.
  virtual const cow_String& FileName() const = 0;
  // The 484-byte description field of the header.
  virtual cow_String Description() = 0;
  virtual bool ReadOnly() const = 0;
  // Makes everything written so far durable and visible to readers; the
  // flush count moves last. A read-only database writes nothing.
  virtual void Flush() = 0;
  // A reader's refresh after a writer's Flush: answers true when the flush
  // count moved and the linkage was reloaded, false otherwise.
  virtual bool Snap() = 0;
  // The flush count as last read or written; the file is not read.
  virtual int GetFlushCount() const = 0;
  // THROWS qvt_FileReadOnlyExc on a read-only database.
  virtual void SetCreationTime(long creationTime) = 0;
  virtual qvt_Handle RootTableHandle() const = 0;   // always 4
  virtual qvt_Handle RootTableHandle2() const = 0;  // always 5
  virtual qvt_FileStatus::QvtFileStatus FileStatus() = 0;
  virtual atr_String CheckNODBCache() = 0;
  virtual void ReaderSemaphoreSet() = 0;
  virtual void ReaderSemaphoreClear() = 0;
  // Diagnostics: they read the linkage and the pools and store nothing.
  // The extent count of handle's chain as the one line "Linkage_Count=%d";
  // an empty list when the handle names no space.
  virtual cow_1DArrayList<cow_String> GetObjStatistics(const qvt_Handle& handle) = 0;
  // Six lines on the use of the file by the header, linkage and pools.
  virtual cow_1DArrayList<cow_String> GetDBStatistics() = 0;
  // Which object holds the byte at offset. This base answers "Object
  // location report not supported for this qvt database type.".
  virtual cow_String GetObjectLocationReport(const utl_FileOffset& offset);
  // The handle of every space in ascending order: the heads of the extent
  // chains, without the extents that continue a space. The two pools and
  // the reserved space are among them.
  virtual std::vector<qvt_Handle> ObjectHandles() = 0;
  // Opens the existing space of handle. The caller owns the result, which
  // must be deleted before the database. THROWS "***ERROR: Database is not
  // valid. ..." when the handle names no space.
  virtual qvt_SpaceRepr* Space(qvt_Handle handle, int increment) = 0;
  // Creates a space with the next handle; increments below 4 mean 4. The
  // caller owns the result.
  virtual qvt_SpaceRepr* Space(int increment) = 0;

  // The metadata pool, for the metadata operations of the public database
  // and for tables. REQUIRES: Create or Open has attached it.
  qvt_DBMetadata& Metadata() const;

 protected:
  // The metadata pool lives on the space of handle 3. The database kind
  // reaches it only through these steps, in the order of its own life:
  // attach at Create (nothing stored yet) or Open (index what is stored),
  // flush first in every Flush, measure and re-index in Snap, delete at
  // close while the linkage is still there.
  //
  // Takes ownership of space, whose marker is in place.
  void AttachMetadataPool(qvt_SpaceRepr* space, bool indexStoredRecords);
  void FlushMetadataPool();
  // Length of the pool's space as the current linkage has it.
  utl_FileOffset MetadataPoolSize();
  // Reads the records appended since the last indexing.
  void IndexMetadataPool();
  // Deletes the pool and its space; safe to call twice.
  void DeleteMetadataPool();

 private:
  std::unique_ptr<qvt_DBMetadata> m_Metadata;
};

#endif  // QVT_IMPL_QVT_DATABASEREPR_H
