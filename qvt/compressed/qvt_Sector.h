// One sector of a compressed file's container, and the reader and writer
// that walk an entry's chain of sectors. Every sector ends in a link word:
//
//   OFFSET  SIZE       CONTENT (words unsigned 32-bit little-endian)
//   0       size - 4   payload
//   size-4  4          index of the next sector of the chain, or 0xFFFFFFFF
//
// An entry's first sector starts with its stored count (4 + payload bytes);
// the payload follows at offset 4 and continues at offset 0 of each linked
// sector. Links always point forward: a sector is linked only to one
// allocated after it, so a link to an earlier sector (a loop) or past the
// file is reported as a damaged file.
#ifndef QVT_IMPL_QVT_SECTOR_H
#define QVT_IMPL_QVT_SECTOR_H

#include <cstdint>
#include <vector>

class qvt_SectorFile;

class qvt_Sector {
 public:
  static constexpr std::uint32_t kNullIndex = 0xFFFFFFFFu;
  static constexpr int kLinkSize = 4;

  // The null sector.
  qvt_Sector() = default;
  qvt_Sector(std::uint32_t index, qvt_SectorFile* file) : m_Index(index), m_File(file) {}

  bool IsNull() const { return m_Index == kNullIndex; }
  std::uint32_t Index() const { return m_Index; }
  qvt_SectorFile* File() const { return m_File; }
  // Payload bytes per sector: the sector size less the link.
  int DataSize() const;

  // Move length bytes at position within the sector; answer the bytes
  // moved. REQUIRES: not the null sector.
  int Read(char* buffer, int length, int position) const;
  int Write(const char* buffer, int length, int position) const;
  // Stores index in the link word. REQUIRES: not the null sector.
  void SetNext(std::uint32_t index) const;
  // The linked sector, or the null sector at the end of the chain (the null
  // sector's next is null). Never allocates. THROWS nex_TextException when
  // the link is damaged.
  qvt_Sector Next() const;
  // The linked sector; at the end of the chain a new sector is allocated and
  // linked. REQUIRES: not the null sector.
  qvt_Sector NextOrAllocate() const;

  // The sector that link names seen from this one: null for the end mark;
  // THROWS nex_TextException unless it is a later sector of the file.
  qvt_Sector Follow(std::uint32_t link) const;

 private:
  std::uint32_t ReadLink() const;

  std::uint32_t m_Index = kNullIndex;
  qvt_SectorFile* m_File = nullptr;
};

// Reads an entry's payload from its chain. Whole sectors are fetched, as
// many of a contiguous run as the request needs in one transfer.
class qvt_SectorReader {
 public:
  // first: the entry's first sector; storedCount: 4 + its payload bytes.
  qvt_SectorReader(const qvt_Sector& first, std::uint32_t storedCount);

  // Copies up to length payload bytes; fewer only when the chain ends.
  // THROWS nex_TextException for a damaged link.
  int Read(char* buffer, int length);
  std::uint32_t StoredCount() const { return m_StoredCount; }

 private:
  // Makes the current sector's bytes available in m_Run, fetching it and up
  // to wanted - 1 following sectors when they are not there yet.
  const char* Fetch(int wanted);

  qvt_Sector m_Current;
  int m_Position;
  std::uint32_t m_StoredCount;
  std::vector<char> m_Run;  // sector images of indices m_RunFirst onwards
  std::uint32_t m_RunFirst = qvt_Sector::kNullIndex;
  std::uint32_t m_RunCount = 0;
};

// Writes an entry's payload over an existing chain or a new one, linking a
// further sector only when a byte must go into it. Finish stores the count.
class qvt_SectorWriter {
 public:
  explicit qvt_SectorWriter(const qvt_Sector& first);

  void Write(const char* buffer, int length);
  // Stores the running count (4 + payload bytes) at the chain's start.
  void Finish();
  std::uint32_t Count() const { return m_Count; }

 private:
  qvt_Sector m_First;
  qvt_Sector m_Current;
  int m_Position = 4;
  std::uint32_t m_Count = 4;
};

#endif  // QVT_IMPL_QVT_SECTOR_H
