// The remote file: starting the assistant, the handshake, the size, page
// and status requests with their common reply head, reads through the page
// cache, and the bounded shutdown of the child.
#include "qvt_FileReprRemote.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atr_translate.h"
#include "qvt_FileException.h"
#include "qvt_FileKinds.h"
#include "qvt_RemoteMessages.h"
#include "uti_Spawn.h"
#include "utl_BinStream.h"
#include "utl_File.h"
#include "utl_PathFinder.h"
#include "utl_UrlParser.h"

namespace {
namespace text = qvt_RemoteText;
namespace proto = qvt_RemoteProtocol;

const char kAssistant[] = "qvtT_FileAssistant.exe";
const char kRelay[] = "tqnfel.exe";
const char kRelayDir[] = "External/tqnfel";
const char kTimeoutVariable[] = "QVT_REMOTE_TIMEOUT";
constexpr int kDefaultTimeoutSeconds = 60;
constexpr int kCloseLimitMs = 10000;
constexpr int kReapGraceMs = 1000;  // for a child whose output already ended
constexpr int kReasonLine = 510;    // characters of a line read as one; a longer line is read in pieces

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}
}  // namespace

qvt_FileRepr* qvt_OpenRemoteFile(const cow_String& url, const cow_String& password) {
  return new qvt_FileReprRemote(url, password);
}

int qvt_FileReprRemote::TimeoutSeconds() {
  cow_String value;
  if (utl_GetEnv(kTimeoutVariable, &value)) {
    const int seconds = std::atoi(value.c_str());
    if (seconds > 0) return seconds;
  }
  return kDefaultTimeoutSeconds;
}

cow_String qvt_FileReprRemote::MaskPassword(const cow_String& url) {
  if (!utl_UrlParser::HasPass(url)) return url;
  const size_t start = url.find("://") + 3;
  const size_t at = url.rfind('@', url.find('/', start));
  const size_t colon = url.find(':', start);
  if (at == cow_String::npos || colon == cow_String::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

cow_String qvt_FileReprRemote::ReasonFromErrorText(const cow_String& errors) {
  cow_String reason = atr_translate(text::kCannotTell).Result();
  // Each line, or piece of a longer one, is text up to its first zero byte.
  for (std::size_t at = 0; at < errors.size();) {
    const std::size_t newline = errors.find('\n', at);
    const std::size_t end = std::min(newline == cow_String::npos ? errors.size() : newline + 1,
                                     at + static_cast<std::size_t>(kReasonLine));
    const cow_String piece = errors.substr(at, end - at);
    at = end;
    const char* line = piece.c_str();
    if (StartsWith(line, "tqnfeld,") || StartsWith(line, "tqnfel,") || StartsWith(line, "assistant,") ||
        StartsWith(line, "KELVOR Error:"))
      reason = atr_Format(text::kReasonFormat, cow_String(line, std::strcspn(line, "\n")));
  }
  return reason;
}

qvt_FileReprRemote::Launch qvt_FileReprRemote::PlanLaunch(const cow_String& url) {
  NEX_ASSERT(utl_UrlParser::IsUrl(url));
  NEX_ASSERT(utl_UrlParser::HasHost(url));
  NEX_ASSERT(utl_UrlParser::HasPath(url));
  Launch launch;
  if (utl_UrlParser::HasPort(url)) {
    launch.command = kRelay;
    launch.program = utl_PathFinder::getSubDirPath("KEV_PATH", kRelayDir, kRelay);
    if (launch.program.empty())
      NEX_THROW(qvt_FileConnectExc(MaskPassword(url), atr_translate(text::kNoRelay).Result()));
    launch.arguments = {"-cpu",
                        utl_UrlParser::GetHost(url),
                        "-private",
                        "-port",
                        std::to_string(utl_UrlParser::GetPort(url)),
                        kAssistant,
                        utl_UrlParser::GetPath(url)};
    if (url.find("SCRATCHDIR_RHOST") != cow_String::npos) launch.arguments.push_back("-scratch");
  } else {
    NEX_ASSERT(utl_UrlParser::GetHost(url) == "localhost");
    launch.command = kAssistant;
    launch.program = uti_Spawn::FindCommand(kAssistant);
    if (launch.program.empty())
      NEX_THROW(qvt_FileConnectExc(MaskPassword(url), atr_translate(text::kNoAssistant).Result()));
    launch.arguments = {utl_UrlParser::GetPath(url)};
  }
  return launch;
}

qvt_FileReprRemote::qvt_FileReprRemote(const cow_String& url, const cow_String& password)
    : qvt_FileRepr(MaskPassword(url)), m_Cache(nullptr), m_TimeoutMs(TimeoutSeconds() * 1000) {
  const Launch launch = PlanLaunch(url);
  m_ErrorFile = std::make_unique<utl_TempFile>();
  m_Cache = &qvt_FileCache::Instance();
  const cow_String secret = !password.empty()             ? password
                            : utl_UrlParser::HasPass(url) ? utl_UrlParser::GetPass(url)
                                                          : cow_String();
  if (secret.size() > 255)
    NEX_THROW(qvt_FileConnectExc(m_Name, atr_translate(text::kPasswordTooLong).Result()));
  try {
    m_Child = uti_SpawnSourceWithSink::spawnSourceWithSink(launch.command, launch.program, launch.arguments,
                                                           uti_Redirection{m_ErrorFile->Name()}, {});
  } catch (const nex_TextException& e) {
    NEX_THROW(qvt_FileConnectExc(m_Name, e.AsString()));
  }
  // The child has its error file open: a process that ends without closing
  // this file leaves no name behind.
  m_ErrorFile->RemoveName();
  m_In = std::make_unique<utl_BinIStream>(m_Child->Source(), EndianLittle, m_TimeoutMs);
  m_Out = std::make_unique<utl_BinOStream>(m_Child->Sink(), EndianLittle, m_TimeoutMs);
  Exchange([&] {
    m_Out->WriteUChar(static_cast<unsigned char>(secret.size()));
    m_Out->WriteBytes(secret.data(), static_cast<std::int64_t>(secret.size()));
    m_Out->Flush();
    const std::int16_t theirs = m_In->ReadShort();
    m_Handshake = std::min(proto::kHandshakeWord, theirs);
    m_Out->WriteShort(m_Handshake);
    m_Out->WriteInt(m_Cache->PageSize());
    m_Out->Flush();
    return 0;
  });
  m_Connecting = false;
  m_LogicalLength = m_Allocation = SizeRequest();
}

qvt_FileReprRemote::~qvt_FileReprRemote() {
  try {
    if (m_Child && m_Child->IsRunning()) {
      m_Child->CloseSink();
      const int limitMs = std::min(kCloseLimitMs, m_TimeoutMs);
      const bool ended = m_In->DrainToEnd(limitMs);
      if (m_Child->Reap(ended ? limitMs : 0) < 0)
        std::fputs(atr_Format(text::kKilledWarning, m_Name).c_str(), stderr);
    }
  } catch (const std::exception& e) {
    std::fputs(atr_Format(text::kCloseWarning, m_Name, e.what()).c_str(), stderr);
  }
  if (m_Cache != nullptr) m_Cache->ReleaseAll(m_Map);
}

template <class Body>
auto qvt_FileReprRemote::Exchange(Body body) -> decltype(body()) {
  if (!m_Broken.empty()) NEX_THROW(qvt_FileFailExc(m_Name, m_Broken));
  try {
    return body();
  } catch (const utl_BinStreamEOF&) {
    RaiseLost(false);
  } catch (const utl_BinStreamTimeout&) {
    RaiseLost(true);
  }
}

void qvt_FileReprRemote::RaiseLost(bool timedOut) {
  (void)m_Child->Reap(timedOut ? 0 : kReapGraceMs);
  m_Broken = ReasonFromErrorText(m_ErrorFile->Contents());
  if (timedOut && m_Broken == atr_translate(text::kCannotTell).Result())
    m_Broken = atr_Format(text::kNoAnswer, m_TimeoutMs / 1000);
  if (m_Connecting) NEX_THROW(qvt_FileConnectExc(m_Name, m_Broken));
  NEX_THROW(qvt_FileFailExc(m_Name, m_Broken));
}

void qvt_FileReprRemote::RaiseBadReply(const cow_String& reason) {
  // The stream is out of step with the protocol: nothing more can be read.
  (void)m_Child->Reap(0);
  m_Broken = reason;
  NEX_THROW(qvt_FileFailExc(m_Name, m_Broken));
}

void qvt_FileReprRemote::ReadReplyHead() {
  (void)m_In->ReadUChar();  // acknowledgement, value not used
  const int status = m_In->ReadChar();
  if (status < qvt_FileStatus::Unchanged || status > qvt_FileStatus::InTransaction)
    RaiseBadReply(atr_Format(text::kBadStatus, status));
  m_LastStatus = status;
  if (status != qvt_FileStatus::Updated) return;
  m_UpdatePending = true;
  const std::int32_t count = m_In->ReadInt();
  // The assistant lists only pages it served to this file, and every such
  // page still has its entry in the map until reported as dropped.
  if (count < 0 || static_cast<std::size_t>(count) > m_Map.size())
    RaiseBadReply(atr_Format(text::kBadInvalidations, count, static_cast<std::int64_t>(m_Map.size())));
  for (std::int32_t i = 0; i < count; ++i) m_Cache->Invalidate(m_In->ReadInt64(), m_Map);
}

std::int64_t qvt_FileReprRemote::SizeRequest() {
  return Exchange([&] {
    m_Out->WriteUChar(proto::kSizeRequest);
    m_Out->Flush();
    ReadReplyHead();
    const std::int64_t size = m_In->ReadInt64();
    if (size < 0 || size > proto::kMaxFileSize)
      RaiseBadReply(atr_Format(text::kBadFileSize, std::to_string(size)));
    return size;
  });
}

void qvt_FileReprRemote::PageRequest(qvt_FileCachePage& page) {
  Exchange([&] {
    // A cache file that cannot take the page fails here, before the pipe
    // holds a reply that would put the stream out of step.
    m_Cache->Reserve(page);
    const std::vector<utl_FileOffset> dropped = m_Cache->TakeDropped(m_Map, proto::kMaxDroppedPerRequest);
    m_Out->WriteUChar(proto::kPageRequest);
    m_Out->WriteShort(static_cast<std::int16_t>(dropped.size()));
    for (utl_FileOffset offset : dropped) m_Out->WriteInt64(offset);
    m_Out->WriteInt64(page.offset);
    m_Out->WriteInt(m_Cache->PageSize());
    m_Out->Flush();
    ReadReplyHead();
    const std::int32_t bytes = m_In->ReadInt();
    if (bytes < 0 || bytes > m_Cache->PageSize())
      RaiseBadReply(atr_Format(text::kBadPageBytes, bytes, m_Cache->PageSize()));
    m_Cache->Fill(page, bytes, *m_In);
    return 0;
  });
}

int qvt_FileReprRemote::Read(char* buffer, int length) {
  if (length < 0) NEX_THROW_TEXT(atr_translate(text::kInvalidReadLength).Result());
  // Seek takes any offset; a page before the file's start is never asked
  // for, as it would put the assistant out of step.
  if ((length > 0 && buffer == nullptr) || m_Position < 0)
    NEX_THROW(qvt_FileBadParameterExc("qvt_FileReprRemote::Read"));
  const std::int64_t pageSize = m_Cache->PageSize();
  std::int64_t count = 0;
  std::int64_t remaining = length;
  utl_FileOffset position = m_Position;
  while (remaining > 0) {
    const utl_FileOffset pageOffset = position / pageSize * pageSize;
    qvt_FileCachePage* page = m_Cache->Lookup(pageOffset, m_Map);
    bool full;
    try {
      m_Cache->Copy(*page, count, buffer, remaining, position);
      if (remaining > 0 && page->valid < pageSize) {
        PageRequest(*page);
        m_Cache->Copy(*page, count, buffer, remaining, position);
      }
      full = page->valid == pageSize;
    } catch (...) {
      m_Cache->Release(page);
      throw;
    }
    m_Cache->Release(page);
    if (!full) break;
  }
  m_Position = position;
  return static_cast<int>(count);
}

qvt_FileStatus::QvtFileStatus qvt_FileReprRemote::FileStatus() {
  const int status = Exchange([&] {
    m_Out->WriteUChar(proto::kStatusRequest);
    m_Out->Flush();
    ReadReplyHead();
    return m_LastStatus;
  });
  // A flush seen in an earlier reply is still news to the caller, unless
  // something weightier (a transaction, a new file, a failed check) is
  // to be reported now; then it waits for a later call.
  if (status == qvt_FileStatus::Updated || (status == qvt_FileStatus::Unchanged && m_UpdatePending)) {
    m_UpdatePending = false;
    return qvt_FileStatus::Updated;
  }
  return static_cast<qvt_FileStatus::QvtFileStatus>(status);
}

atr_String qvt_FileReprRemote::CheckNODBCache() {
  const std::int64_t size = SizeRequest();
  // Five times the cache's capacity in bytes, whatever the page size.
  const double capacity = static_cast<double>(m_Cache->PageLimit()) * m_Cache->PageSize();
  if (static_cast<double>(size) > 5.0 * capacity) return atr_translate(text::kCacheWarning).Result();
  return atr_String();
}

void qvt_FileReprRemote::RaiseReadOnly() const { NEX_THROW(qvt_FileReadOnlyExc(m_Name)); }
bool qvt_FileReprRemote::Extend(utl_FileOffset) { RaiseReadOnly(); }
int qvt_FileReprRemote::Write(const char*, int) { RaiseReadOnly(); }
bool qvt_FileReprRemote::ExtendFile(utl_FileOffset) { RaiseReadOnly(); }
void qvt_FileReprRemote::TrimToLength() { RaiseReadOnly(); }
void qvt_FileReprRemote::WriteSizeRecord(int) { RaiseReadOnly(); }
