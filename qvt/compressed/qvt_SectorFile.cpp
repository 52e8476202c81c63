// A local file as an array of sectors, grown in steps and trimmed at close.
#include "qvt_SectorFile.h"

#include <cstdio>

#include "qvt_EncodedMessages.h"
#include "qvt_Sector.h"

namespace {
// Sharing values the container asks for: readers let others write, writers
// let others read.
constexpr int kShareForReader = 2;
constexpr int kShareForWriter = 1;
}  // namespace

qvt_SectorFile::qvt_SectorFile(const cow_String& path, int sectorSize, int access)
    : m_SectorSize(sectorSize),
      m_ReadOnly(access == utl_FileAccessRead),
      m_File(path, access, access == utl_FileAccessRead ? kShareForReader : kShareForWriter) {
  NEX_ASSERT(sectorSize > 4);
  const std::int64_t sectors = m_File.FileSize() / sectorSize;
  // The null sector index can never be a real sector.
  NEX_ASSERT(sectors < static_cast<std::int64_t>(qvt_Sector::kNullIndex) - kGrowthSectors);
  m_UsedSectors = static_cast<std::uint32_t>(sectors);
  m_AllocatedSectors = m_UsedSectors;
}

qvt_SectorFile::~qvt_SectorFile() {
  if (m_UsedSectors == m_AllocatedSectors) return;
  try {
    m_File.Extend(static_cast<std::int64_t>(m_UsedSectors) * m_SectorSize);
  } catch (const nex_Exception& e) {
    // The file stays longer than needed; the extra sectors are only unused.
    std::fputs(atr_Format(qvt_EncodedMessages::kCloseFailed, Name(), e.AsString()).c_str(), stderr);
  }
}

qvt_Sector qvt_SectorFile::AllocateSector() {
  NEX_ASSERT(m_UsedSectors < qvt_Sector::kNullIndex - kGrowthSectors);
  if (m_UsedSectors == m_AllocatedSectors) {
    m_File.Extend(static_cast<std::int64_t>(m_AllocatedSectors + kGrowthSectors) * m_SectorSize);
    m_AllocatedSectors += kGrowthSectors;
  }
  const qvt_Sector sector(m_UsedSectors, this);
  ++m_UsedSectors;
  sector.SetNext(qvt_Sector::kNullIndex);
  return sector;
}

int qvt_SectorFile::ReadAt(std::int64_t offset, char* buffer, int length) {
  m_File.Seek(offset);
  return m_File.Read(buffer, length);
}

int qvt_SectorFile::WriteAt(std::int64_t offset, const char* buffer, int length) {
  m_File.Seek(offset);
  return m_File.Write(buffer, length);
}
