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
      m_File(path, access, access == utl_FileAccessRead ? kShareForReader : kShareForWriter, utl_FileLockWriter),
      m_Journal(std::make_unique<qvt_Journal>(path, m_File)) {
  NEX_ASSERT(sectorSize > 4);
  std::int64_t size = -1;
  if (access == utl_FileAccessUpdate) m_Journal->Recover();
  if (access == utl_FileAccessCreate) m_Journal->Discard();
  if (access == utl_FileAccessRead) size = m_Journal->LoadForReading();
  m_ReadThrough = size >= 0;
  if (!m_ReadThrough) size = m_File.FileSize();
  const std::int64_t sectors = size / sectorSize;
  // The null sector index can never be a real sector.
  NEX_ASSERT(sectors < static_cast<std::int64_t>(qvt_Sector::kNullIndex) - kGrowthSectors);
  m_UsedSectors = static_cast<std::uint32_t>(sectors);
  m_AllocatedSectors = m_UsedSectors;
  if (!m_ReadOnly) Commit();
}

qvt_SectorFile::~qvt_SectorFile() {
  // The client flushed before: the file is whole without the journal.
  if (!m_ReadOnly) m_Journal->Remove();
  if (m_UsedSectors == m_AllocatedSectors) return;
  try {
    m_File.Extend(static_cast<std::int64_t>(m_UsedSectors) * m_SectorSize);
  } catch (const nex_Exception& e) {
    // The file stays longer than needed; the extra sectors are only unused.
    std::fputs(atr_Format(qvt_EncodedMessages::kCloseFailed, Name(), e.AsString()).c_str(), stderr);
  }
}

void qvt_SectorFile::Commit() {
  const std::int64_t used = static_cast<std::int64_t>(m_UsedSectors) * m_SectorSize;
  m_Journal->Commit(used, used);
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
  const int n = m_File.Read(buffer, length);
  if (m_ReadThrough) m_Journal->Overlay(offset, buffer, n);
  return n;
}

int qvt_SectorFile::WriteAt(std::int64_t offset, const char* buffer, int length) {
  return m_Journal->Write(offset, buffer, length);
}
