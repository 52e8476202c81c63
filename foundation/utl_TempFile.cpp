// POSIX scratch files: mkstemp for a unique name, statvfs for free space.
#include "utl_TempFile.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "utl_File.h"

utl_TempFile::utl_TempFile() {
  cow_String directory;
  if (!utl_GetEnv("TMPDIR", &directory) || directory.empty()) directory = "/tmp";
  CreateIn(directory);
}

utl_TempFile::utl_TempFile(const cow_String& directory) { CreateIn(directory); }

void utl_TempFile::CreateIn(const cow_String& directory) {
  cow_String pattern = directory;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += "qvt_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    NEX_THROW_TEXT(atr_Format("***ERROR: Cannot create a scratch file in %s: %s", directory, std::strerror(err)));
  }
  ::close(fd);
  m_Name = buffer.data();
  m_Named = true;
}

utl_TempFile::~utl_TempFile() {
  RemoveName();
  if (m_Fd >= 0) ::close(m_Fd);
}

void utl_TempFile::RemoveName() {
  // Once removed, the name may be another's scratch file.
  if (!m_Named) return;
  m_Fd = OpenIfPresent();
  ::unlink(m_Name.c_str());
  m_Named = false;
}

cow_String utl_TempFile::Contents() const {
  const int fd = m_Fd >= 0 ? m_Fd : OpenIfPresent();
  cow_String text;
  char chunk[4096];
  for (utl_FileOffset at = 0;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
    at += n;
  }
  if (fd != m_Fd) utl_CloseDescriptor(fd);
  return text;
}

int utl_TempFile::OpenIfPresent() const {
  int fd;
  do {
    fd = ::open(m_Name.c_str(), O_RDWR | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::uint64_t utl_TempFile::AvailableSpace() const {
  struct statvfs info;
  if (::statvfs(m_Name.c_str(), &info) != 0) {
    const int err = errno;
    NEX_THROW_TEXT(atr_Format("***ERROR: Cannot query free space for %s: %s", m_Name, std::strerror(err)));
  }
  return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

bool utl_CloseDescriptor(int fd) { return fd >= 0 && ::close(fd) == 0; }
