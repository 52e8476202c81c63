// The lowest layer of a compressed file: one local file seen as an array of
// equal sectors. It hands out new sectors at the end, growing the file 256
// sectors at a time, and cuts the unused ones off again when it is closed.
#ifndef QVT_IMPL_QVT_SECTORFILE_H
#define QVT_IMPL_QVT_SECTORFILE_H

#include <cstdint>
#include <memory>

#include "cow_String.h"
#include "qvt_Journal.h"
#include "utl_File.h"

class qvt_Sector;

class qvt_SectorFile {
 public:
  // Sectors added to the file whenever it runs out of room.
  static constexpr std::uint32_t kGrowthSectors = 256;

  // Opens path with access (0 read, 1 update, 2 create). Both counts become
  // the number of whole sectors in the file; a partial trailing sector is
  // ignored. A writer takes the writer lock and rolls back what a writer
  // that died between two flushes left in the journal; a reader of such a
  // file reads through the journal. THROWS what utl_File throws
  // (utl_FileExceptionLocked while another writer holds the file).
  qvt_SectorFile(const cow_String& path, int sectorSize, int access);
  // Cuts the file back to the used sectors when some were pre-allocated,
  // then closes it. Never throws: a failed cut is reported on stderr.
  ~qvt_SectorFile();
  qvt_SectorFile(const qvt_SectorFile&) = delete;
  qvt_SectorFile& operator=(const qvt_SectorFile&) = delete;

  // A new sector at the end, its link set to the end of a chain; its payload
  // is not written.
  qvt_Sector AllocateSector();

  int SectorSize() const { return m_SectorSize; }
  std::uint32_t UsedSectors() const { return m_UsedSectors; }
  std::uint32_t AllocatedSectors() const { return m_AllocatedSectors; }
  bool IsReadOnly() const { return m_ReadOnly; }
  const cow_String& Name() const { return m_File.Name(); }

  // Positioned transfers on the underlying file; answer the bytes moved.
  // Writes over sectors of the last completed flush save their old bytes
  // in the journal first.
  int ReadAt(std::int64_t offset, char* buffer, int length);
  int WriteAt(std::int64_t offset, const char* buffer, int length);
  // The sectors written so far form a completed flush (called once the
  // container's header and directory are written).
  void Commit();

 private:
  int m_SectorSize;
  std::uint32_t m_UsedSectors = 0;
  std::uint32_t m_AllocatedSectors = 0;
  bool m_ReadOnly;
  bool m_ReadThrough = false;
  utl_File m_File;
  std::unique_ptr<qvt_Journal> m_Journal;
};

#endif  // QVT_IMPL_QVT_SECTORFILE_H
