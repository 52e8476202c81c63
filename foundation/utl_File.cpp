// POSIX implementation of files, paths and directory calls.
#include "utl_File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "atr_translate.h"
#include "utl_UrlParser.h"

namespace {
[[noreturn]] void ThrowOsError(const char* what, const cow_String& name, int err) {
  NEX_THROW_TEXT(atr_Format("***ERROR: %s failed for file %s: %s", what, name, std::strerror(err)));
}

// The OS sees a name only up to its first zero byte; a name holding one
// would silently reach a different file, so it names no file at all.
bool UsableName(const cow_String& name) { return name.find('\0') == cow_String::npos; }
}  // namespace

utl_FileExceptionLocked::utl_FileExceptionLocked(const cow_String& name)
    : nex_TextException(atr_Format("***ERROR: %s is locked by another writer.", name)) {}

namespace {
// F_OFD_GETLK with a read lock asks whether anyone holds a write lock.
bool WriteLockedElsewhere(int fd) {
  struct flock query = {};
  query.l_type = F_RDLCK;
  query.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_GETLK, &query) < 0) return false;
  return query.l_type != F_UNLCK;
}
}  // namespace

utl_FileExceptionNoFile::utl_FileExceptionNoFile(const cow_String& name)
    : nex_TextException(atr_Format("***ERROR: No such file: %s.", name)) {}

utl_File::utl_File(const cow_String& name, int access, int /*sharing*/, int lock) : m_Name(name) {
  const bool locking = lock == utl_FileLockWriter && access != utl_FileAccessRead;
  int flags = O_CLOEXEC;
  switch (access) {
    case utl_FileAccessRead:
      flags |= O_RDONLY;
      break;
    case utl_FileAccessUpdate:
      flags |= O_RDWR;
      break;
    case utl_FileAccessCreate:
      // Emptied below once the lock is held: a refused writer changes nothing.
      flags |= O_RDWR | O_CREAT | (locking ? 0 : O_TRUNC);
      break;
    default:
      NEX_THROW(nex_AssertException("Incorrect file access."));
  }
  if (!UsableName(name)) ThrowOsError("open", name, EINVAL);
  do {
    m_Fd = ::open(name.c_str(), flags, 0666);
  } while (m_Fd < 0 && errno == EINTR);
  if (m_Fd < 0) {
    const int err = errno;
    if (err == ENOENT && access != utl_FileAccessCreate) NEX_THROW(utl_FileExceptionNoFile(name));
    ThrowOsError("open", name, err);
  }
  if (!locking) return;
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(m_Fd, F_OFD_SETLK, &whole) < 0) {
    const int err = errno;
    ::close(m_Fd);
    m_Fd = -1;
    if (err == EAGAIN || err == EACCES) NEX_THROW(utl_FileExceptionLocked(name));
    ThrowOsError("lock", name, err);
  }
  // Emptied only once locked, so that another writer's file is never cut.
  // A file that is empty already is left alone: on ext4 a truncation marks
  // the file for a full write-back at close, which would make closing a
  // freshly written database wait for the disk.
  struct stat before;
  const bool empty = ::fstat(m_Fd, &before) == 0 && before.st_size == 0;
  if (access == utl_FileAccessCreate && !empty && ::ftruncate(m_Fd, 0) < 0) {
    const int err = errno;
    ::close(m_Fd);
    m_Fd = -1;
    ThrowOsError("resize", name, err);
  }
}

utl_File::~utl_File() {
  if (m_Fd >= 0) ::close(m_Fd);
}

int utl_File::Read(char* buffer, int count) {
  const int done = ReadAt(m_Position, buffer, count);
  m_Position += done;
  return done;
}

int utl_File::Write(const char* buffer, int count) {
  const int done = WriteAt(m_Position, buffer, count);
  m_Position += done;
  return done;
}

int utl_File::ReadAt(utl_FileOffset offset, char* buffer, int count) const {
  if (count <= 0) return 0;
  int done = 0;
  while (done < count) {
    const ssize_t n = ::pread(m_Fd, buffer + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowOsError("read", m_Name, errno);
    }
    if (n == 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

int utl_File::WriteAt(utl_FileOffset offset, const char* buffer, int count) const {
  if (count <= 0) return 0;
  int done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(m_Fd, buffer + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowOsError("write", m_Name, errno);
    }
    done += static_cast<int>(n);
  }
  return done;
}

void utl_File::Seek(utl_FileOffset offset) {
  if (offset < 0) NEX_THROW_TEXT(atr_Format("***ERROR: seek failed for file %s: negative offset", m_Name));
  m_Position = offset;
}

void utl_File::Extend(utl_FileOffset length) {
  if (length < 0) NEX_THROW_TEXT(atr_Format("***ERROR: resize failed for file %s: negative size", m_Name));
  int rc;
  do {
    rc = ::ftruncate(m_Fd, static_cast<off_t>(length));
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) ThrowOsError("resize", m_Name, errno);
}

namespace {
// Inode numbers fit 48 bits on every file system we meet; the device goes
// above them. Equal identities mean the same file.
unsigned long long IdentityOf(const struct stat& st) {
  return (static_cast<unsigned long long>(st.st_dev) << 48) ^ static_cast<unsigned long long>(st.st_ino);
}
}  // namespace

unsigned long long utl_File::Identity() const {
  struct stat st;
  if (::fstat(m_Fd, &st) < 0) ThrowOsError("stat", m_Name, errno);
  return IdentityOf(st);
}

utl_FileOffset utl_File::FileSize() const {
  struct stat st;
  if (::fstat(m_Fd, &st) < 0) ThrowOsError("stat", m_Name, errno);
  return static_cast<utl_FileOffset>(st.st_size);
}

void utl_File::Sync() {
  if (::fsync(m_Fd) < 0) ThrowOsError("sync", m_Name, errno);
}

bool utl_File::WriterLockHeldElsewhere() const { return WriteLockedElsewhere(m_Fd); }

bool utl_WriterLockHeld(const cow_String& name) {
  if (!UsableName(name)) return false;
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = WriteLockedElsewhere(fd);
  ::close(fd);
  return held;
}

utl_FilePath::utl_FilePath(const cow_String& name, const cow_String& second)
    : m_Name(second.empty() ? name : name + "/" + second) {}

bool utl_FilePath::Exists() const {
  if (utl_UrlParser::IsUrl(m_Name)) return true;
  struct stat st;
  return UsableName(m_Name) && ::stat(m_Name.c_str(), &st) == 0;
}

bool utl_FilePath::IsReadable() const {
  if (utl_UrlParser::IsUrl(m_Name)) return true;
  return UsableName(m_Name) && ::access(m_Name.c_str(), R_OK) == 0;
}

bool utl_FilePath::IsWriteable() const {
  if (utl_UrlParser::IsUrl(m_Name)) return false;
  return UsableName(m_Name) && ::access(m_Name.c_str(), W_OK) == 0;
}

bool utl_FilePath::IsDirectory() const {
  struct stat st;
  return UsableName(m_Name) && ::stat(m_Name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

utl_Stat::utl_Stat(const cow_String& name) {
  struct stat st;
  if (!UsableName(name) || ::stat(name.c_str(), &st) != 0) return;
  exists = true;
  isDirectory = S_ISDIR(st.st_mode);
  size = static_cast<utl_FileOffset>(st.st_size);
  modifiedNanoseconds = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  identity = IdentityOf(st);
}

bool utl_MakeDirectory(const cow_String& name) { return UsableName(name) && ::mkdir(name.c_str(), 0777) == 0; }
bool utl_RemoveDirectory(const cow_String& name) { return UsableName(name) && ::rmdir(name.c_str()) == 0; }
bool utl_RemoveFile(const cow_String& name) { return UsableName(name) && ::unlink(name.c_str()) == 0; }

bool utl_GetEnv(const char* name, cow_String* value) {
  const char* v = std::getenv(name);
  if (!v) return false;
  if (value) *value = v;
  return true;
}
