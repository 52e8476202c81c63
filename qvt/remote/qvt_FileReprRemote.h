// A read-only database file reached through a URL. An assistant process,
// started directly ("file://localhost/path") or through the network relay
// tqnfel on the URL's host ("scheme://host:port/path"), serves the file's
// bytes in pages over its standard input and output; the pages are kept in
// the process-wide qvt_FileCache. Above the file layer only qvt_File builds
// one (through qvt_OpenRemoteFile).
//
// Every wait for the child is bounded: a reply must start making progress
// within QVT_REMOTE_TIMEOUT seconds (default 60); at closing the child gets
// at most 10 seconds (or that timeout when smaller) to end before it is
// killed.
#ifndef QVT_REMOTE_QVT_FILEREPRREMOTE_H
#define QVT_REMOTE_QVT_FILEREPRREMOTE_H

#include <memory>
#include <vector>

#include "qvt_FileCache.h"
#include "qvt_FileRepr.h"

class uti_SpawnSourceWithSink;
class utl_BinIStream;
class utl_BinOStream;

class qvt_FileReprRemote : public qvt_FileRepr {
 public:
  // How the assistant is started for a URL.
  struct Launch {
    cow_String command;  // the program's name
    cow_String program;  // its path
    std::vector<cow_String> arguments;
  };
  // The program and arguments for url. THROWS nex_AssertException for a
  // name that is not a URL with host and path, or without port and not on
  // "localhost"; qvt_FileConnectExc when the program is not found.
  static Launch PlanLaunch(const cow_String& url);
  // The reason a child gave in errors, its error file's text: the last line
  // beginning "tqnfeld,", "tqnfel,", "assistant," or "KELVOR Error:"
  // (newline removed), else "Can't be determined".
  static cow_String ReasonFromErrorText(const cow_String& errors);
  // url with the password part, if any, replaced by "***": the name the file
  // is known by in every message.
  static cow_String MaskPassword(const cow_String& url);
  // Seconds allowed for a reply to make progress (QVT_REMOTE_TIMEOUT).
  static int TimeoutSeconds();

  // Starts the assistant, hands over the password (password when not
  // empty, else the URL's) and learns the file's size. THROWS as
  // PlanLaunch, and qvt_FileConnectExc with the child's reason when it
  // refuses or fails during the handshake; qvt_FileFailExc when the size
  // request fails.
  qvt_FileReprRemote(const cow_String& url, const cow_String& password);
  // Stops the child (end of its input, then a bounded wait), gives the
  // pages back to the cache. Never throws.
  ~qvt_FileReprRemote() override;

  bool ReadOnly() const override { return true; }
  void Seek(utl_FileOffset offset) override { m_Position = offset; }
  void Flush() override {}
  // Writing operations THROW qvt_FileReadOnlyExc.
  bool Extend(utl_FileOffset increment) override;
  int Write(const char* buffer, int count) override;
  bool ExtendFile(utl_FileOffset increment) override;
  void TrimToLength() override;
  void WriteSizeRecord(int offset) override;
  // Reads through the page cache; only pages not held, or the partial last
  // page when bytes beyond it are wanted, cost a request. THROWS
  // nex_TextException for a negative length, qvt_FileBadParameterExc for a
  // null buffer or a position before the start, qvt_FileFailExc when the
  // connection breaks or a reply is impossible.
  int Read(char* buffer, int length) override;
  // The assistant's status. Updated (2) seen in any reply since the last
  // call is answered here, so a reader learns of a flush as a local reader
  // would.
  qvt_FileStatus::QvtFileStatus FileStatus() override;
  atr_String CheckNODBCache() override;
  void CheckSizeRecord(int offset) override { VerifySizeRecord(offset); }
  void SizeRecordProblems(int offset, qvt_Problems* problems) override { VerifySizeRecord(offset, problems); }

  int LastStatus() const { return m_LastStatus; }

 private:
  [[noreturn]] void RaiseReadOnly() const;
  // Raises qvt_FileFailExc (or, during the handshake, qvt_FileConnectExc)
  // for a broken or timed-out exchange, after ending the child.
  [[noreturn]] void RaiseLost(bool timedOut);
  [[noreturn]] void RaiseBadReply(const cow_String& reason);
  void ReadReplyHead();
  std::int64_t SizeRequest();
  void PageRequest(qvt_FileCachePage& page);
  template <class Body>
  auto Exchange(Body body) -> decltype(body());

  std::int16_t m_Handshake = 0;  // the protocol version agreed at opening
  std::unique_ptr<uti_SpawnSourceWithSink> m_Child;
  std::unique_ptr<utl_TempFile> m_ErrorFile;
  qvt_FileCache* m_Cache;
  qvt_FileCacheMap m_Map;
  int m_LastStatus = 0;
  bool m_UpdatePending = false;
  bool m_Connecting = true;
  cow_String m_Broken;  // the reason, once the connection is lost
  int m_TimeoutMs;
  std::unique_ptr<utl_BinIStream> m_In;
  std::unique_ptr<utl_BinOStream> m_Out;
};

#endif  // QVT_REMOTE_QVT_FILEREPRREMOTE_H
