// Linux change notices (inotify) on the parent directory, read without
// waiting on every question.
#include "utl_NameWatch.h"

#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <linux/magic.h>

#include "utl_File.h"

namespace {

// File systems whose every change passes through this machine's kernel, so
// that a notice comes for every change, whoever made it. Network file
// systems, and overlays (whose lower layers change unseen), are not among
// them.
bool ChangedOnlyHere(long type) {
  switch (type) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4 alike
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

bool LookUp(const cow_String& path) {
  const utl_Stat found(path);
  return found.exists && found.isDirectory;
}

}  // namespace

std::unique_ptr<utl_NameWatch> utl_NameWatch::Start(const cow_String& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) return nullptr;
  struct statfs fs;
  if (::statfs(parent.c_str(), &fs) != 0 || !ChangedOnlyHere(static_cast<long>(fs.f_type))) return nullptr;
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return nullptr;
  const std::uint32_t events =
      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  if (::inotify_add_watch(fd, parent.c_str(), events) < 0) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<utl_NameWatch> watch(new utl_NameWatch(fd, path, std::move(name)));
  // Looked up after the watch began: a change in between also comes as a
  // notice, applied on top, so the last word is always the newest.
  watch->m_IsDirectory = LookUp(path);
  return watch;
}

utl_NameWatch::utl_NameWatch(int fd, const cow_String& path, std::string name)
    : m_Fd(fd), m_Owner(::getpid()), m_Path(path), m_Name(std::move(name)) {}

utl_NameWatch::~utl_NameWatch() { ::close(m_Fd); }

bool utl_NameWatch::IsDirectory() {
  // A forked child shares the notices with its parent: taking them here
  // would take them from the parent, so a child only looks up.
  if (m_Trusted && ::getpid() == m_Owner && TakeNotices()) return m_IsDirectory;
  m_Trusted = false;
  return LookUp(m_Path);
}

bool utl_NameWatch::TakeNotices() {
  alignas(struct inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(m_Fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN;  // every notice taken
    if (n == 0) return false;
    for (ssize_t at = 0; at < n;) {
      const auto* notice = reinterpret_cast<const struct inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + notice->len);
      // Notices lost, or the parent gone: nothing more will tell.
      if (notice->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) return false;
      if (notice->len == 0 || m_Name != notice->name) continue;
      if (notice->mask & (IN_DELETE | IN_MOVED_FROM)) {
        m_IsDirectory = false;
      } else if (notice->mask & (IN_CREATE | IN_MOVED_TO)) {
        // Something other than a directory may still lead to one.
        m_IsDirectory = (notice->mask & IN_ISDIR) != 0 || LookUp(m_Path);
      }
    }
  }
}
