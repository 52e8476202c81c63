// Binary streams over a file descriptor (a pipe), in the byte order of an
// EndianType: 0 little-endian, 1 big-endian. Every wait for the other end is
// bounded by a timeout, so a peer that hangs ends in an exception instead of
// hanging the caller. Both streams buffer; call Flush on the output stream
// to send what was written.
#ifndef QVT_FOUNDATION_UTL_BINSTREAM_H
#define QVT_FOUNDATION_UTL_BINSTREAM_H

#include <cstdint>
#include <vector>

#include "nex_Exception.h"

// The stream ended (the peer closed its end or died) before the bytes asked
// for arrived; for an output stream, the peer no longer reads.
class utl_BinStreamEOF : public nex_TextException {
 public:
  explicit utl_BinStreamEOF(const cow_String& message) : nex_TextException(message) {}

 protected:
  [[noreturn]] void Raise() const override { throw *this; }
};

// The peer made no progress for the whole timeout.
class utl_BinStreamTimeout : public nex_TextException {
 public:
  explicit utl_BinStreamTimeout(const cow_String& message) : nex_TextException(message) {}

 protected:
  [[noreturn]] void Raise() const override { throw *this; }
};

class utl_BinIStream {
 public:
  // fd stays owned by the caller. timeoutMs < 0 waits without bound.
  utl_BinIStream(int fd, int endianType, int timeoutMs);

  // Each reads exactly its width. THROW utl_BinStreamEOF when the stream
  // ends first, utl_BinStreamTimeout when no byte comes within the timeout,
  // nex_TextException on any other failure of the descriptor.
  signed char ReadChar();
  unsigned char ReadUChar();
  std::int16_t ReadShort();
  std::uint16_t ReadUShort();
  std::int32_t ReadInt();
  std::int64_t ReadInt64();
  void ReadBytes(char* buffer, std::int64_t count);
  // Reads and discards until the end of the stream; false when the end
  // does not come within totalMs milliseconds.
  bool DrainToEnd(int totalMs);
  // True when a read would not wait: bytes are buffered or waiting on the
  // descriptor, or the stream has ended. Never waits, never throws.
  bool HasInput() const;

 private:
  std::uint64_t ReadUnsigned(int width);
  // Waits for and reads what is available into dst (at most count bytes);
  // answers the count, 0 at the end of the stream.
  std::int64_t ReadSome(char* dst, std::int64_t count);

  int m_Fd;
  bool m_Little;
  int m_TimeoutMs;
  std::vector<char> m_Buffer;
  std::size_t m_Begin = 0;
  std::size_t m_End = 0;
};

class utl_BinOStream {
 public:
  utl_BinOStream(int fd, int endianType, int timeoutMs);

  void WriteChar(signed char value) { WriteUnsigned(static_cast<unsigned char>(value), 1); }
  void WriteUChar(unsigned char value) { WriteUnsigned(value, 1); }
  void WriteShort(std::int16_t value) { WriteUnsigned(static_cast<std::uint16_t>(value), 2); }
  void WriteInt(std::int32_t value) { WriteUnsigned(static_cast<std::uint32_t>(value), 4); }
  void WriteInt64(std::int64_t value) { WriteUnsigned(static_cast<std::uint64_t>(value), 8); }
  // A run of 64 KiB or more is sent at once, after what is pending.
  void WriteBytes(const char* buffer, std::int64_t count);
  // Sends what is pending, then count bytes that are lent rather than
  // copied when the descriptor is a pipe: the pipe refers to the caller's
  // memory until the peer reads it. REQUIRES the bytes stay unchanged until
  // the peer has read them (in a request/reply exchange: until the next
  // request arrives). THROWS as Flush.
  void WriteLent(const char* buffer, std::int64_t count);
  // As WriteLent, but lends only what the pipe takes now, without waiting,
  // and answers how many of the count bytes went; the caller sends the
  // rest later, before anything else. A descriptor that is not a pipe
  // takes them all, as Flush. REQUIRES as WriteLent.
  std::int64_t LendSome(const char* buffer, std::int64_t count);
  // Sends everything written so far. THROWS utl_BinStreamEOF when the peer
  // closed its end, utl_BinStreamTimeout when it takes nothing within the
  // timeout. A broken pipe never raises SIGPIPE in the caller.
  void Flush();

 private:
  void WriteUnsigned(std::uint64_t value, int width);
  void Send(const char* data, std::size_t size);
  void WaitWritable();

  int m_Fd;
  bool m_Little;
  int m_TimeoutMs;
  bool m_CanLend = true;  // until the descriptor turns out not to be a pipe
  std::vector<char> m_Pending;
};

#endif  // QVT_FOUNDATION_UTL_BINSTREAM_H
