// The assistant's side of the pipe protocol: one database file served
// read-only, page by page, with the file's status in every reply. Which
// served pages changed is decided exactly: a copy of every page as it was
// last sent is kept in memory and compared byte for byte when the writer
// has flushed. The client reports the pages it no longer holds, so the
// copies never outgrow what its cache holds of this file. A page is read
// from the file once, into its kept copy, and lent to the pipe from there.
#ifndef QVT_TOOLS_ASSISTANT_SERVER_H
#define QVT_TOOLS_ASSISTANT_SERVER_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvt_File.h"
#include "utl_BinStream.h"
#include "utl_MappedMemory.h"

class assistant_Server {
 public:
  // Serves path (already checked) over in and out; the client has passed
  // the password check.
  assistant_Server(const std::string& path, utl_BinIStream& in, utl_BinOStream& out);
  // Finishes the handshake and answers requests until the input ends.
  // THROWS assistant_Failure for a request out of protocol, and what the
  // file layer or the streams throw.
  void Run();

 private:
  void WriteHead(std::int64_t exceptOffset);
  std::vector<std::int64_t> ChangedPages(std::int64_t exceptOffset);
  int ReadPage(std::int64_t offset, char* buffer);
  void Forget(std::int64_t offset);
  char* CopyFor(std::int64_t offset);
  std::int64_t FileSize();

  struct Copy {
    char* bytes;         // a page-sized slot of m_Slabs
    std::int32_t count;  // bytes sent
  };

  std::string m_Path;
  utl_BinIStream& m_In;
  utl_BinOStream& m_Out;
  qvt_File m_File;
  bool m_Compressed;
  std::int32_t m_PageSize = 0;
  std::map<std::int64_t, Copy> m_Served;                   // page offset -> the bytes sent
  std::vector<std::unique_ptr<utl_MappedMemory>> m_Slabs;  // every copy's memory, never given back
  std::size_t m_SlabUsed = 0;                              // bytes of the last slab handed out
  std::vector<char*> m_Spare;                              // slots of forgotten pages, for reuse
  std::vector<char> m_Page;                                // scratch for comparing and compressed files
};

#endif  // QVT_TOOLS_ASSISTANT_SERVER_H
