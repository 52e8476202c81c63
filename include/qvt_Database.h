// A database of engineering results kept in one file: the public handle,
// its static Open and Create, and the objects it gives out (spaces and
// tables) with the table classes of its metadata pool. Copying a handle
// shares the database; the last copy closes it (a writer flushes once more
// and trims the file). Spaces, tables and the objects of other families
// keep a plain pointer to the database and must be destroyed before its
// last handle. Also the library's initializer and finalizer functions.
#ifndef QVT_INCLUDE_QVT_DATABASE_H
#define QVT_INCLUDE_QVT_DATABASE_H

#include <map>
#include <vector>

#include "cow_CountedHld.h"
#include "cow_String.h"
#include "qvt_Array.h"
#include "qvt_File.h"
#include "qvt_Handle.h"
#include "qvt_Space.h"
#include "qvt_Table.h"
#include "qvt_TableMetadata.h"
#include "qvt_TaggedStream.h"
#include "utl_FileOffset.h"

class qvt_DatabaseRepr;

class qvt_Database {
 public:
  // Opens the database in file; an empty typeCode skips the type-code
  // check. THROWS the database's open messages ("***ERROR: ... is not an
  // KELVOR database file.", wrong magic number, wrong version, misplaced
  // pools, corrupt linkage or metadata); no handle is made then.
  static qvt_Database Open(const qvt_File& file, const cow_String& typeCode);
  // Writes a new database into file, which must be writable and empty.
  static qvt_Database Create(const qvt_File& file, const cow_String& typeCode, const cow_String& description,
                             long creationTime);
  // True when file holds a database whose type code matches (any, for an
  // empty typeCode). Throws nothing of its own.
  static bool IsMagic(const qvt_File& file, const cow_String& typeCode);
  // The creation time in the file's header; 0 for a version-11 file.
  static long GetCreationTime(const qvt_File& file);

  // Takes ownership of an implementation whose Create or Open ran through.
  explicit qvt_Database(qvt_DatabaseRepr* repr);
  qvt_Database(const qvt_Database& other);
  qvt_Database& operator=(const qvt_Database& other);
  ~qvt_Database();

  // ---- The database as a whole ----
  const cow_String& FileName() const;
  cow_String Description();
  bool ReadOnly() const;
  // Writes the metadata pool, new strings and the linkage, then raises the
  // flush count. Objects flush their own data first.
  void Flush();
  // For a reader: 1 when the writer flushed since and the view was
  // refreshed, else 0.
  int Snap();
  int GetFlushCount() const;
  void SetCreationTime(long creationTime);
  qvt_Handle RootTableHandle();   // 4
  qvt_Handle RootTableHandle2();  // 5
  qvt_FileStatus::QvtFileStatus FileStatus();
  atr_String CheckNODBCache();
  void ReaderSemaphoreSet();
  void ReaderSemaphoreClear();

  // ---- Diagnostics: they read the file's bookkeeping and store nothing ----
  // One line "Linkage_Count=<extents of the handle's chain>"; an empty list
  // for a handle that names no space.
  std::vector<cow_String> GetObjStatistics(const qvt_Handle& handle);
  // Six lines: header size, linkage usage, metadata pool size, string pool
  // size and count, and the string pool's Linkage_Count line.
  std::vector<cow_String> GetDBStatistics();
  // "Object: <handle, 8 hex digits> - Offset: <offset in its space>" for
  // the object holding the byte at offset, else "Object not found.".
  // Only a damaged linkage throws, with the corrupt-file message.
  cow_String GetObjectLocationReport(const utl_FileOffset& offset);
  // The handle of every object in ascending order, the fixed spaces 1 to 3
  // included: one per space, never the extents that continue one. What
  // each holds is told by HandleType. Only a damaged linkage throws, with
  // the corrupt-file message.
  std::vector<qvt_Handle> ObjectHandles();

  // ---- Table classes (the metadata pool) ----
  // Stores a new class, or binds a stored one merged with metadata's
  // fields. Answers the database's own object, valid while it is open.
  const qvt_TableMetadata& Bind(const qvt_TableMetadata& metadata);
  // Binds every stored class as stored.
  void Bind();
  bool HasTable(const cow_String& className) const;
  // THROWS "***ERROR: Can't find table metadata, \"<name>\" in KELVOR
  // database file." for an unknown class.
  const utl_FileOffset& GetTableMetadataHandle(const cow_String& className) const;
  // THROWS "***ERROR: Can't find metadata with handle." until the class
  // is bound.
  const qvt_TableMetadata& GetTableMetadata(const utl_FileOffset& handle) const;
  const qvt_TableMetadata& GetTableMetadata(const cow_String& className) const;
  std::vector<cow_String> GetTableMetadataNames();
  // Fill before the first Bind of a class; a class keeps its first version.
  void InsertInMapClassName2ClassVersion(const cow_String& className, int version);
  const std::map<cow_String, int, cow_StringLess>& GetMapClassName2ClassVersion() const;

  // ---- Objects ----
  // increment: the space's growth step in bytes (below 4 means 4).
  // The existing space of handle. THROWS "***ERROR: Database is not valid.
  // ..." for a handle that names no space.
  qvt_Space Space(const qvt_Handle& handle, int increment);
  // A new space with the next handle.
  qvt_Space Space(int increment);
  // A new table of metadata's class (bound first if it is not). cacheSize:
  // rows per read-ahead (negative means 32).
  qvt_Table Table(const qvt_TableMetadata& metadata, int increment, int cacheSize);
  // A new table of the class bound under className.
  qvt_Table Table(const cow_String& className, int increment, int cacheSize);
  // The existing table of handle; its class must be bound.
  qvt_Table Table(qvt_Handle handle, int increment, int cacheSize);
  // A new array of fieldCount values per row, in a space growing by
  // increment; bufferSize: bytes of its I/O buffer (0 means 2048). THROWS
  // "qvt_ArrayRepr::qvt_ArrayRepr: Invalid field count %d; ..." for a field
  // count below 1 or above 268435455, before anything is created. Mind the
  // argument type: an int first argument creates, a qvt_Handle opens.
  qvt_Array<int, 1> ArrayInt(int fieldCount, int increment, int bufferSize);
  qvt_Array<float, 3> ArrayFloat(int fieldCount, int increment, int bufferSize);
  qvt_Array<double, 4> ArrayDouble(int fieldCount, int increment, int bufferSize);
  qvt_Array<cow_String, 6> ArrayString(int fieldCount, int increment, int bufferSize);
  // The existing array of handle. THROWS the array's open messages, and the
  // assertion "repr->Type() == type" when it stores another element type.
  qvt_Array<int, 1> ArrayInt(qvt_Handle handle, int increment, int bufferSize);
  qvt_Array<float, 3> ArrayFloat(qvt_Handle handle, int increment, int bufferSize);
  qvt_Array<double, 4> ArrayDouble(qvt_Handle handle, int increment, int bufferSize);
  qvt_Array<cow_String, 6> ArrayString(qvt_Handle handle, int increment, int bufferSize);
  // A new tagged stream; bufferSize: bytes of its I/O buffer (0 means 2048).
  qvt_TaggedStream TaggedStream(int bufferSize);
  // The existing tagged stream of handle. THROWS the stream's open messages.
  qvt_TaggedStream TaggedStream(qvt_Handle handle, int bufferSize);
  // What the handle holds, from the first ints of its space: qvt_TypeTable,
  // qvt_TypeTaggedStream, an array's element type, or qvt_TypeOther.
  qvt_Type HandleType(const qvt_Handle& handle);

  // The implementation, for the library's own use.
  qvt_DatabaseRepr* Repr() const { return m_Repr.Get(); }

 private:
  cow_CountedHld<qvt_DatabaseRepr> m_Repr;
};

// Library start and stop, counted per process. Each takes the caller's
// counter: raised once by the first initialize, lowered once by the
// finalize that matches the last initialize. Meant for one thread.
void qvt_initialize(int& counter);
void qvt_finalize(int& counter);
void UTI_QvtInterface_initialize(int& counter);
void UTI_QvtInterface_finalize(int& counter);

#endif  // QVT_INCLUDE_QVT_DATABASE_H
