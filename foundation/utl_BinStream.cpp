// POSIX binary streams: poll for bounded waits, read/write with EINTR
// retried, vmsplice to lend large runs to a pipe, and SIGPIPE held back
// around each write so that a dead reader shows up as EPIPE instead of
// ending the process.
#include "utl_BinStream.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "atr_translate.h"
#include "omi_Swapper.h"
#include <sys/uio.h>

namespace {
constexpr std::size_t kInputBuffer = 64 * 1024;
// A pipe read holds the pipe for its whole copy, and the peer can add
// nothing meanwhile: a large read goes in steps this large, so that the
// rest of a reply arrives while the first steps are copied.
constexpr std::int64_t kReadStep = 128 * 1024;

// Waits until fd is ready for events or the timeout passes; false on
// timeout. Errors and hang-ups count as ready: the following call reports
// them.
bool WaitReady(int fd, short events, int timeoutMs) {
  struct pollfd p;
  p.fd = fd;
  p.events = events;
  for (;;) {
    p.revents = 0;
    const int r = ::poll(&p, 1, timeoutMs);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return true;
  }
}

// Runs a write-like call (answering a count, or -1 with errno) with SIGPIPE
// blocked in this thread, retrying on EINTR; a pending SIGPIPE that the call
// raised is taken before the mask is restored.
template <class Call>
ssize_t NoSigpipe(Call call) {
  sigset_t pipeOnly, old;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
  ssize_t n;
  do {
    n = call();
  } while (n < 0 && errno == EINTR);
  const int err = errno;
  if (n < 0 && err == EPIPE && !sigismember(&old, SIGPIPE)) {
    const struct timespec zero = {0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = err;
  return n;
}

[[noreturn]] void ThrowWriteError(int err) {
  if (err == EPIPE) NEX_THROW(utl_BinStreamEOF("The reading end is closed"));
  NEX_THROW_TEXT(atr_Format("Write to pipe failed: %s", std::strerror(err)));
}
}  // namespace

utl_BinIStream::utl_BinIStream(int fd, int endianType, int timeoutMs)
    : m_Fd(fd), m_Little(endianType == EndianLittle), m_TimeoutMs(timeoutMs), m_Buffer(kInputBuffer) {}

std::int64_t utl_BinIStream::ReadSome(char* dst, std::int64_t count) {
  if (!WaitReady(m_Fd, POLLIN, m_TimeoutMs))
    NEX_THROW(utl_BinStreamTimeout(atr_Format("No data within %d ms", m_TimeoutMs)));
  ssize_t n;
  do {
    n = ::read(m_Fd, dst, static_cast<std::size_t>(count));
  } while (n < 0 && errno == EINTR);
  if (n < 0) NEX_THROW_TEXT(atr_Format("Read from pipe failed: %s", std::strerror(errno)));
  return n;
}

void utl_BinIStream::ReadBytes(char* buffer, std::int64_t count) {
  while (count > 0) {
    if (m_Begin == m_End) {
      // Large reads go straight to the caller's buffer.
      if (count >= static_cast<std::int64_t>(m_Buffer.size())) {
        const std::int64_t n = ReadSome(buffer, std::min(count, kReadStep));
        if (n == 0) NEX_THROW(utl_BinStreamEOF("End of stream"));
        buffer += n;
        count -= n;
        continue;
      }
      const std::int64_t n = ReadSome(m_Buffer.data(), static_cast<std::int64_t>(m_Buffer.size()));
      if (n == 0) NEX_THROW(utl_BinStreamEOF("End of stream"));
      m_Begin = 0;
      m_End = static_cast<std::size_t>(n);
    }
    const std::size_t take = std::min(static_cast<std::size_t>(count), m_End - m_Begin);
    std::memcpy(buffer, m_Buffer.data() + m_Begin, take);
    m_Begin += take;
    buffer += take;
    count -= static_cast<std::int64_t>(take);
  }
}

bool utl_BinIStream::DrainToEnd(int totalMs) {
  m_Begin = m_End = 0;
  struct timespec start, now;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long long elapsedMs =
        (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000LL;
    if (elapsedMs >= totalMs) return false;
    if (!WaitReady(m_Fd, POLLIN, static_cast<int>(totalMs - elapsedMs))) return false;
    ssize_t n;
    do {
      n = ::read(m_Fd, m_Buffer.data(), m_Buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return true;  // the end, or a broken pipe: nothing more will come
  }
}

bool utl_BinIStream::HasInput() const { return m_Begin != m_End || WaitReady(m_Fd, POLLIN, 0); }

std::uint64_t utl_BinIStream::ReadUnsigned(int width) {
  unsigned char bytes[8];
  ReadBytes(reinterpret_cast<char*>(bytes), width);
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) {
    const int shift = m_Little ? 8 * i : 8 * (width - 1 - i);
    value |= static_cast<std::uint64_t>(bytes[i]) << shift;
  }
  return value;
}

signed char utl_BinIStream::ReadChar() { return static_cast<signed char>(ReadUnsigned(1)); }
unsigned char utl_BinIStream::ReadUChar() { return static_cast<unsigned char>(ReadUnsigned(1)); }
std::int16_t utl_BinIStream::ReadShort() { return static_cast<std::int16_t>(ReadUnsigned(2)); }
std::uint16_t utl_BinIStream::ReadUShort() { return static_cast<std::uint16_t>(ReadUnsigned(2)); }
std::int32_t utl_BinIStream::ReadInt() { return static_cast<std::int32_t>(ReadUnsigned(4)); }
std::int64_t utl_BinIStream::ReadInt64() { return static_cast<std::int64_t>(ReadUnsigned(8)); }

utl_BinOStream::utl_BinOStream(int fd, int endianType, int timeoutMs)
    : m_Fd(fd), m_Little(endianType == EndianLittle), m_TimeoutMs(timeoutMs) {}

void utl_BinOStream::WriteUnsigned(std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    const int shift = m_Little ? 8 * i : 8 * (width - 1 - i);
    m_Pending.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

void utl_BinOStream::WriteBytes(const char* buffer, std::int64_t count) {
  if (count <= 0) return;
  // A large run (a page) goes to the pipe from the caller's buffer instead
  // of being copied behind what is pending.
  if (count >= static_cast<std::int64_t>(kInputBuffer)) {
    Flush();
    Send(buffer, static_cast<std::size_t>(count));
    return;
  }
  m_Pending.insert(m_Pending.end(), buffer, buffer + count);
}

void utl_BinOStream::Flush() {
  std::vector<char> pending;
  pending.swap(m_Pending);  // nothing stays pending, whatever Send raises
  Send(pending.data(), pending.size());
  pending.clear();
  if (m_Pending.capacity() < pending.capacity()) m_Pending.swap(pending);
}

void utl_BinOStream::WaitWritable() {
  if (!WaitReady(m_Fd, POLLOUT, m_TimeoutMs))
    NEX_THROW(utl_BinStreamTimeout(atr_Format("Peer took no data within %d ms", m_TimeoutMs)));
}

void utl_BinOStream::Send(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    WaitWritable();
    // A blocking pipe write larger than PIPE_BUF may wait for the reader
    // after poll said ready; with a bound on waiting, write what is
    // guaranteed to fit.
    std::size_t chunk = size - done;
    if (m_TimeoutMs >= 0 && chunk > PIPE_BUF) chunk = PIPE_BUF;
    const ssize_t n = NoSigpipe([&] { return ::write(m_Fd, data + done, chunk); });
    if (n < 0) {
      if (errno == EAGAIN) continue;
      ThrowWriteError(errno);
    }
    done += static_cast<std::size_t>(n);
  }
}

std::int64_t utl_BinOStream::LendSome(const char* buffer, std::int64_t count) {
  Flush();
  if (!m_CanLend) {
    Send(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    return count;
  }
  std::int64_t done = 0;
  // Asking first keeps off the pipe's lock while the peer is reading.
  while (done < count && WaitReady(m_Fd, POLLOUT, 0)) {
    struct iovec span;
    span.iov_base = const_cast<char*>(buffer + done);
    span.iov_len = static_cast<std::size_t>(count - done);
    const ssize_t n = NoSigpipe([&] { return ::vmsplice(m_Fd, &span, 1, SPLICE_F_NONBLOCK); });
    if (n < 0) {
      if (errno == EAGAIN) break;
      if (errno != EBADF && errno != EINVAL) ThrowWriteError(errno);
      m_CanLend = false;  // not a pipe (a socket, a file): copy instead
      Send(buffer + done, static_cast<std::size_t>(count - done));
      return count;
    }
    done += n;
  }
  return done;
}

void utl_BinOStream::WriteLent(const char* buffer, std::int64_t count) {
  // Lending saves the copy into the pipe's own pages; each round lends what
  // the pipe takes without blocking, so a bound on waiting holds.
  for (std::int64_t done = LendSome(buffer, count); done < count;
       done += LendSome(buffer + done, count - done))
    WaitWritable();
}
