// The container of a compressed database file: numbered variable-length
// entries, each a chain of 4096-byte sectors, plus a small header area for
// its client (the segment table). It knows nothing of compression.
//
// Sector 0 (words unsigned 32-bit little-endian):
//   OFFSET  SIZE   CONTENT
//   0       8      magic "KVRTSA00", no terminating zero
//   8       4      version, 1
//   12      4      user header size U
//   16      4      entry count N (directory length)
//   20      U      user header (the client's bytes)
//   20+U    4*N    directory: first sector of entry i, or 0 when absent;
//                  continued at offset 0 of the sectors that sector 0's
//                  link chain names, 1023 words per sector
//   4092    4      link
#ifndef QVT_IMPL_QVT_SECTORARRAY_H
#define QVT_IMPL_QVT_SECTORARRAY_H

#include <cstdint>
#include <vector>

#include "qvt_Sector.h"
#include "qvt_SectorFile.h"

class qvt_SectorArray : public qvt_SectorFile {
 public:
  static constexpr int kSectorSize = 4096;
  // The file's first bytes, no terminating zero; the first six name the
  // kind of file whatever the version digits after them.
  static constexpr char kMagic[] = "KVRTSA00";
  static constexpr int kMagicSize = 8;
  static constexpr int kKindBytes = 6;
  static constexpr int kHeaderSize = 20;  // magic and the three header words
  static constexpr std::uint32_t kCurrentVersion = 1;

  struct CreateTag {};

  // Opens an existing container with access 0 (read) or 1 (update) and
  // reads its header and directory. THROWS nex_AssertException with the
  // failed condition for a bad magic or version, nex_TextException for a
  // damaged header or directory, and what utl_File throws.
  qvt_SectorArray(const cow_String& path, int access);
  // Creates (or empties) the file with a user header of userHeaderSize
  // bytes. Nothing is written until Flush.
  qvt_SectorArray(const cow_String& path, int userHeaderSize, CreateTag);

  // Move min(length, U) bytes of the user header; answer the count moved.
  int ReadUserHeader(char* buffer, int length);
  int WriteUserHeader(const char* buffer, int length);

  bool HasEntry(int index) const;
  // REQUIRES: HasEntry(index). THROWS nex_TextException when the stored
  // count cannot be right.
  qvt_SectorReader OpenEntry(int index);
  // A writer over entry index: its existing chain, or a new sector.
  qvt_SectorWriter CreateEntry(int index);

  // Writes the header and the directory.
  void Flush();

  int UserHeaderSize() const { return m_UserHeaderSize; }
  int EntryCount() const { return m_EntryCount; }

 private:
  void ReadHeader();
  void WriteHeader();
  void ReadDirectory();
  void WriteDirectory();
  qvt_Sector HeaderSector() { return qvt_Sector(0, this); }

  int m_UserHeaderSize = 0;
  int m_EntryCount = 0;
  std::vector<std::uint32_t> m_Directory;  // cells beyond its size read as 0
};

#endif  // QVT_IMPL_QVT_SECTORARRAY_H
