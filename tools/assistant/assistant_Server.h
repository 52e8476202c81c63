// The assistant's side of the pipe protocol: one database file served
// read-only, page by page, with the file's status in every reply. Which
// served pages changed is decided exactly: a copy of every page as it was
// last sent is kept in memory and compared byte for byte when the writer
// has flushed. The client reports the pages it no longer holds, so the
// copies never outgrow what its cache holds of this file. A page is read
// from the file once, into its kept copy, and lent to the pipe from there.
//
// While the client reads a full page (the part that did not fit the pipe
// going out between pieces) and works on it, the next page is read ahead into
// a fresh copy, in pieces, stopping as soon as a request arrives. It is
// sent only if the client asks for it and the file reports no change since
// the reply before; the rest of the page is read then. Read ahead or not,
// the kept copy is exactly what was sent, so change tracking stays exact.
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
  int WriteHead(std::int64_t exceptOffset);
  std::vector<std::int64_t> ChangedPages(std::int64_t exceptOffset);
  // Reads the page at offset into buffer from byte from on, up to the page
  // size or the end of the file, in pieces; with yield, sends more of the
  // reply before each piece and stops after a piece when a request waits.
  // Answers the bytes buffer now holds.
  int ReadPage(std::int64_t offset, char* buffer, int from = 0, bool yield = false);
  void ServePage(std::int64_t offset, int status);
  void ReadAhead();
  // Sends what the pipe takes now of the page the last reply still owes.
  void SendSome();
  // Sends the rest of the last reply, waiting as long as it takes.
  void FinishReply();
  void DropAhead();
  void Forget(std::int64_t offset);
  char* TakeSlot();
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
  std::int64_t m_NextAhead = -1;                           // the page to read ahead, or none
  Copy m_Ahead{nullptr, 0};                                // a page read ahead, not sent
  std::int64_t m_AheadOffset = -1;
  const char* m_Unsent = nullptr;  // the part of the last page not yet sent
  std::int64_t m_UnsentCount = 0;
};

#endif  // QVT_TOOLS_ASSISTANT_SERVER_H
