// The assistant's request loop: size, page and status requests, each
// answered after the reply head (acknowledgement, status, and for status 2
// the offsets of served pages that changed).
#include "assistant_Server.h"

#include <algorithm>
#include <cstring>

#include "assistant_Config.h"
#include "nex_Exception.h"
#include "qvt_FileRepr.h"
#include "qvt_FileReprEncoded.h"
#include "qvt_RemoteMessages.h"
#include "utl_File.h"

namespace proto = qvt_RemoteProtocol;

namespace {
constexpr std::int32_t kMinPage = 1024;
constexpr std::int32_t kMaxPage = 64 * 1024 * 1024;
// Copies are carved from large slabs so that they sit on huge pages.
constexpr std::size_t kSlabBytes = 64 * 1024 * 1024;
// Reading ahead looks for a waiting request after each piece this large.
constexpr int kAheadPiece = 128 * 1024;
}  // namespace

assistant_Server::assistant_Server(const std::string& path, utl_BinIStream& in, utl_BinOStream& out)
    : m_Path(path),
      m_In(in),
      m_Out(out),
      m_File(qvt_File::Open(path, utl_FileAccessRead, true)),
      m_Compressed(qvt_FileReprEncoded::IsCompressedFile(path)) {}

std::int64_t assistant_Server::FileSize() {
  // A plain file grows while a writer works: its size now. A compressed
  // file is served as the decoded view opened at the start.
  if (m_Compressed) return m_File.Repr()->Length();
  return utl_Stat(m_Path).size;
}

int assistant_Server::ReadPage(std::int64_t offset, char* buffer, int from, bool yield) {
  qvt_FileRepr* file = m_File.Repr();
  file->Seek(offset + from);
  int got = from;
  while (got < m_PageSize) {
    if (yield) SendSome();
    if (yield && got > from && m_In.HasInput()) break;
    const int n =
        file->Read(buffer + got, yield ? std::min(kAheadPiece, m_PageSize - got) : m_PageSize - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

void assistant_Server::ReadAhead() {
  const std::int64_t offset = m_NextAhead;
  m_NextAhead = -1;
  if (m_Served.count(offset) != 0 || m_In.HasInput()) return;
  m_Ahead.bytes = TakeSlot();
  m_AheadOffset = offset;
  try {
    m_Ahead.count = ReadPage(offset, m_Ahead.bytes, 0, true);
  } catch (const nex_Exception&) {
    // Nobody asked for this page yet: if it is asked for, reading it again
    // reports the failure in answer to that request.
    DropAhead();
  }
}

void assistant_Server::DropAhead() {
  if (m_Ahead.bytes != nullptr) m_Spare.push_back(m_Ahead.bytes);
  m_Ahead = Copy{nullptr, 0};
  m_AheadOffset = -1;
}

void assistant_Server::ServePage(std::int64_t offset, int status) {
  char* page;
  int from = 0;
  if (m_Compressed) {
    // A compressed file never reports a flush, so its pages never need
    // comparing.
    page = m_Page.data();
  } else if (m_AheadOffset == offset) {
    // The file reported no change at the reply before the bytes were read
    // nor now: they are what a read now gives.
    page = m_Ahead.bytes;
    from = m_Ahead.count;
    m_Served[offset] = Copy{page, 0};
    m_Ahead = Copy{nullptr, 0};
    m_AheadOffset = -1;
  } else {
    page = CopyFor(offset);
  }
  DropAhead();
  const int bytes = ReadPage(offset, page, from);
  if (!m_Compressed) m_Served[offset].count = bytes;
  m_NextAhead =
      !m_Compressed && status == qvt_FileStatus::Unchanged && bytes == m_PageSize ? offset + m_PageSize : -1;
  m_Out.WriteInt(bytes);
  // Either buffer stays as sent until the next request: the client reads
  // the whole reply before it asks again. A page does not fit the pipe
  // beside its head, so what does not go now goes while the next page is
  // read ahead.
  m_Unsent = page;
  m_UnsentCount = bytes;
  SendSome();
}

void assistant_Server::SendSome() {
  if (m_UnsentCount == 0) return;
  const std::int64_t lent = m_Out.LendSome(m_Unsent, m_UnsentCount);
  m_Unsent += lent;
  m_UnsentCount -= lent;
}

void assistant_Server::FinishReply() {
  if (m_UnsentCount == 0) return;
  m_Out.WriteLent(m_Unsent, m_UnsentCount);
  m_UnsentCount = 0;
}

void assistant_Server::Forget(std::int64_t offset) {
  auto served = m_Served.find(offset);
  if (served == m_Served.end()) return;
  m_Spare.push_back(served->second.bytes);
  m_Served.erase(served);
}

char* assistant_Server::CopyFor(std::int64_t offset) {
  auto served = m_Served.find(offset);
  if (served != m_Served.end()) return served->second.bytes;
  char* bytes = TakeSlot();
  m_Served[offset] = Copy{bytes, 0};
  return bytes;
}

char* assistant_Server::TakeSlot() {
  // A spare slot's bytes went out in a reply the client has read whole.
  char* bytes;
  if (!m_Spare.empty()) {
    bytes = m_Spare.back();
    m_Spare.pop_back();
  } else {
    const std::size_t page = static_cast<std::size_t>(m_PageSize);
    if (m_Slabs.empty() || m_SlabUsed + page > m_Slabs.back()->Size()) {
      m_Slabs.push_back(utl_MappedMemory::Anonymous(std::max(kSlabBytes / page, std::size_t{1}) * page));
      m_SlabUsed = 0;
    }
    bytes = m_Slabs.back()->Data() + m_SlabUsed;
    m_SlabUsed += page;
  }
  return bytes;
}

std::vector<std::int64_t> assistant_Server::ChangedPages(std::int64_t exceptOffset) {
  std::vector<std::int64_t> changed;
  for (const auto& entry : m_Served) {
    if (entry.first == exceptOffset) continue;  // sent again in this very reply
    const Copy& sent = entry.second;
    const int now = ReadPage(entry.first, m_Page.data());
    if (now >= sent.count &&
        std::memcmp(sent.bytes, m_Page.data(), static_cast<std::size_t>(sent.count)) == 0)
      continue;
    changed.push_back(entry.first);
  }
  for (std::int64_t offset : changed) Forget(offset);
  return changed;
}

int assistant_Server::WriteHead(std::int64_t exceptOffset) {
  const int status = m_File.Repr()->FileStatus();
  m_Out.WriteUChar(1);
  m_Out.WriteChar(static_cast<signed char>(status));
  // A page read ahead before a change, or while one may be under way, is
  // never sent.
  if (status != qvt_FileStatus::Unchanged) DropAhead();
  if (status != qvt_FileStatus::Updated) return status;
  const std::vector<std::int64_t> changed = ChangedPages(exceptOffset);
  m_Out.WriteInt(static_cast<std::int32_t>(changed.size()));
  for (std::int64_t offset : changed) m_Out.WriteInt64(offset);
  return status;
}

void assistant_Server::Run() {
  m_Out.WriteShort(proto::kHandshakeWord);
  m_Out.Flush();
  (void)m_In.ReadShort();  // the agreed word: this build speaks only version 1
  m_PageSize = m_In.ReadInt();
  if (m_PageSize < kMinPage || m_PageSize > kMaxPage)
    throw assistant_Failure("the page size " + std::to_string(m_PageSize) + " is out of range");
  m_Page.resize(static_cast<std::size_t>(m_PageSize));
  for (;;) {
    if (m_NextAhead >= 0) ReadAhead();
    FinishReply();
    unsigned char opcode;
    try {
      opcode = m_In.ReadUChar();
    } catch (const utl_BinStreamEOF&) {
      return;  // the client closed: the orderly end
    }
    if (opcode == proto::kSizeRequest) {
      WriteHead(-1);
      m_Out.WriteInt64(FileSize());
    } else if (opcode == proto::kStatusRequest) {
      WriteHead(-1);
    } else if (opcode == proto::kPageRequest) {
      const int dropped = m_In.ReadShort();
      if (dropped < 0)
        throw assistant_Failure("a page request dropped " + std::to_string(dropped) + " pages");
      for (int i = 0; i < dropped; ++i) Forget(m_In.ReadInt64());
      const std::int64_t offset = m_In.ReadInt64();
      const std::int32_t pageSize = m_In.ReadInt();
      if (pageSize != m_PageSize || offset < 0 || offset % m_PageSize != 0)
        throw assistant_Failure("a page request for offset " + std::to_string(offset) + " and size " +
                                std::to_string(pageSize) + " does not fit pages of " +
                                std::to_string(m_PageSize));
      ServePage(offset, WriteHead(offset));
    } else {
      throw assistant_Failure("unknown request " + std::to_string(opcode));
    }
    m_Out.Flush();
  }
}
