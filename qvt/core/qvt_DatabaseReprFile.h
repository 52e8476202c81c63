// A database kept in one qvt_File: the 1024-byte header, the object linkage
// in memory, the string pool and the metadata pool. Creates, opens, flushes,
// refreshes and closes the database; spaces reach the linkage through it.
#ifndef QVT_IMPL_QVT_DATABASEREPRFILE_H
#define QVT_IMPL_QVT_DATABASEREPRFILE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "qvt_DatabaseRepr.h"
#include "qvt_File.h"
#include "qvt_FileLayout.h"
#include "qvt_Linkage.h"
#include "qvt_StringManagerFile.h"

class qvt_FileRepr;
class qvt_Problems;

// The file starts with the header (qvt_FileLayout.h), linkage block 0
// right behind it at 1024 (qvt_DatabaseLayout.h).
class qvt_DatabaseReprFile : public qvt_DatabaseRepr {
 public:
  static constexpr int kVersion = qvt_FileLayout::kVersion;
  static constexpr utl_FileOffset kHeaderBytes = qvt_FileLayout::kHeaderBytes;
  static constexpr int kDescriptionOffset = qvt_FileLayout::kDescriptionOffset;
  static constexpr int kDescriptionWidth = qvt_FileLayout::kDescriptionWidth;
  static constexpr int kReservedOffset = qvt_FileLayout::kReservedOffset;
  static constexpr int kSizeRecordOffset = qvt_FileLayout::kSizeRecordOffset;
  static constexpr int kFlushCountOffset = qvt_FileLayout::kFlushCountOffset;
  static constexpr int kCreationTimeOffset = qvt_FileLayout::kCreationTimeOffset;

  // Built empty; exactly one of Create or Open follows. Only a database
  // whose Create or Open ran through is closed (flushed, trimmed) when it is
  // destroyed; a failed one writes nothing more and just frees its memory.
  qvt_DatabaseReprFile();
  ~qvt_DatabaseReprFile() override;

  // Writes a new database into file, which must be writable and empty: the
  // header, linkage block 0 and the spaces of handles 1, 2 and 3. The
  // linkage reaches the disk at the first Flush.
  void Create(const qvt_File& file, const cow_String& typeCode, const cow_String& description,
              long creationTime);
  // Reads and checks an existing database; an empty typeCode skips the
  // type-code check. THROWS, in this order of checks: the old-format, the
  // not-a-database, the wrong-magic and the version messages, the file's
  // size-record failure, the corrupt-file message for a damaged linkage,
  // "***ERROR: String space object is not where it belongs." and
  // "***ERROR: Metadata table object is not where it belongs.".
  void Open(const qvt_File& file, const cow_String& typeCode);

  // True when file starts with the signature and its type code matches as
  // in Open (always, for an empty typeCode). Throws nothing of its own.
  static bool IsMagic(qvt_FileRepr& file, const cow_String& typeCode);
  // Checks the start of a pool's space as Open does: length bytes long and
  // starting with marker (read when length is at least 4). Adds "the string
  // pool (object 1) ..." or "the metadata pool (object 3) ..." to problems,
  // refused with the string-space or metadata misplaced message.
  static void PoolProblems(qvt_Handle handle, utl_FileOffset length, int marker, qvt_Problems* problems);
  // The creation time in the header, 0 for a version below 12.
  static long GetCreationTime(qvt_FileRepr& file);

  const cow_String& FileName() const override;
  cow_String Description() override;
  bool ReadOnly() const override;
  void Flush() override;
  bool Snap() override;
  int GetFlushCount() const override { return m_FlushCount; }
  void SetCreationTime(long creationTime) override;
  qvt_Handle RootTableHandle() const override { return 4; }
  qvt_Handle RootTableHandle2() const override { return 5; }
  qvt_FileStatus::QvtFileStatus FileStatus() override;
  atr_String CheckNODBCache() override;
  void ReaderSemaphoreSet() override;
  void ReaderSemaphoreClear() override;
  // Diagnostics (their own source file). Only a damaged linkage makes them
  // throw, with the corrupt-file message.
  cow_1DArrayList<cow_String> GetObjStatistics(const qvt_Handle& handle) override;
  // In order: "Block 0 Size (bytes)=%d" (1024), "Total Linkage Usage
  // (bytes)=%20.0lf" (blocks x 14336), "Metadata Pool Size (bytes)=%20.0lf",
  // "String Pool Size (bytes)=%20.0lf" (the pool's known end, unflushed
  // records included), "String Pool Count (number of strings)=%d", and
  // "String Pool " followed by the string pool's Linkage_Count line.
  cow_1DArrayList<cow_String> GetDBStatistics() override;
  // "Object: %08x - Offset: %20.0lf" with the handle of the space whose
  // extent holds the byte at offset and the byte's offset in that space;
  // "Object not found." when no extent holds it (header, linkage blocks,
  // unused tails of allocations). Uses the entries' scratch flags.
  cow_String GetObjectLocationReport(const utl_FileOffset& offset) override;
  std::vector<qvt_Handle> ObjectHandles() override;
  qvt_SpaceRepr* Space(qvt_Handle handle, int increment) override;
  // The new handle's block is marked dirty at once, so a handle once handed
  // out is recorded at the next Flush and never handed out again.
  qvt_SpaceRepr* Space(int increment) override;

  // ---- Linkage, for spaces and diagnostics ----
  // The entry of a handle: two indexings. THROWS the corrupt-file message
  // when the block index or slot lies outside the linkage (slot 0 included).
  qvt_LinkageEntry& LinkageEntry(qvt_Handle handle);
  // Slot at least 1, block inside the linkage, entry location not 0.
  bool IsValidHandle(qvt_Handle handle) const;
  void MarkDirty(qvt_Handle handle);
  // Hands out the next handle, adding a linkage block when the last is full.
  qvt_Handle NewHandle();
  int LinkageBlockCount() const { return static_cast<int>(m_Blocks.size()); }
  qvt_LinkageBlock& LinkageBlockAt(int index) { return *m_Blocks.at(static_cast<std::size_t>(index)); }
  // Entries the linkage holds: no chain can be longer without a loop.
  std::int64_t LinkageEntryCount() const {
    return static_cast<std::int64_t>(m_Blocks.size()) * qvt_LinkageSlots;
  }
  // Follows one next link of a chain. steps counts the extents visited so
  // far; THROWS the corrupt-file message when it passes the number of
  // entries of the linkage (a chain that loops).
  qvt_Handle NextInChain(qvt_Handle handle, std::int64_t* steps);

  // ---- The file, for spaces ----
  qvt_FileRepr& File() const { return *m_File.Repr(); }
  // Grows the file's logical length by bytes and rewrites the size record
  // when its allocation grew.
  void GrowFile(utl_FileOffset bytes);
  qvt_StringManagerFile& StringPool() { return m_StringPool; }
  // THROWS "***ERROR: Unable to procede.  KELVOR database file is
  // corrupt:\n  <file name>".
  [[noreturn]] void FailCorrupt() const;

 private:
  using BlockList = qvt_LinkageBlocks;

  void NewLinkageBlock();
  void LoadLinkage(BlockList* blocks);
  void WriteLinkage();
  // Runs each step of the closing sequence, reporting failures.
  void Close() noexcept;
  // Sets the scratch flag of every entry that starts a chain and clears
  // every other one.
  void MarkHeads();
  std::unique_ptr<qvt_SpaceRepr> OpenPoolSpace(qvt_Handle handle);

  qvt_File m_File;
  qvt_StringManagerFile m_StringPool;
  BlockList m_Blocks;
  std::vector<unsigned char> m_Scratch;
  int m_FlushCount = 0;
  // A refresh found a flush it could not take up (a writer changed the
  // linkage while it was read): the status reports it until one does.
  bool m_FlushNotTakenUp = false;
  bool m_Ready = false;
};

#endif  // QVT_IMPL_QVT_DATABASEREPRFILE_H
