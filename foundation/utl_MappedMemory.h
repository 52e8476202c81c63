// Memory mapped from the system: large zero-filled anonymous regions, and
// ranges of an open file shared with it, so that bytes written to the memory
// are the file's bytes without a write call. Used where pages are moved in
// bulk: the remote page cache's slots and the file assistant's page copies.
#ifndef QVT_FOUNDATION_UTL_MAPPEDMEMORY_H
#define QVT_FOUNDATION_UTL_MAPPEDMEMORY_H

#include <cstddef>
#include <memory>

#include "utl_FileOffset.h"

class utl_File;

class utl_MappedMemory {
 public:
  // At least bytes of zero-filled memory private to this process, backed by
  // huge pages where the system allows, so that first touching it costs one
  // fault per 2 MiB instead of one per 4 KiB. THROWS nex_TextException when
  // the system refuses.
  static std::unique_ptr<utl_MappedMemory> Anonymous(std::size_t bytes);
  // bytes of file from offset on (any offset), read and write, shared with
  // the file. The file need not be that long: bytes past its end must not
  // be touched (the system would end the process); reserve them first with
  // utl_ReserveFileSpace. The mapping does not keep file open. THROWS
  // nex_TextException when the system refuses.
  static std::unique_ptr<utl_MappedMemory> OfFile(const utl_File& file, utl_FileOffset offset,
                                                  std::size_t bytes);
  ~utl_MappedMemory();
  utl_MappedMemory(const utl_MappedMemory&) = delete;
  utl_MappedMemory& operator=(const utl_MappedMemory&) = delete;

  char* Data() const { return m_Data; }
  std::size_t Size() const { return m_Size; }

 private:
  utl_MappedMemory(void* base, std::size_t length, char* data, std::size_t size)
      : m_Base(base), m_Length(length), m_Data(data), m_Size(size) {}

  void* m_Base;  // what the system mapped, page aligned
  std::size_t m_Length;
  char* m_Data;  // what the caller asked for, inside it
  std::size_t m_Size;
};

// Makes file at least offset + length bytes long with the storage of those
// bytes allocated, so that writing them through a mapping cannot fail for
// want of space. THROWS nex_TextException with the system's reason (no
// space left, for one) when it cannot.
void utl_ReserveFileSpace(const utl_File& file, utl_FileOffset offset, utl_FileOffset length);

#endif  // QVT_FOUNDATION_UTL_MAPPEDMEMORY_H
