// Whether a path names a directory, followed through the kernel's change
// notices on its parent instead of a lookup of the path on every question.
//
// A lookup of a directory that another process is removing can leave this
// process holding the last reference to it, and then this process pays for
// freeing it: a lookup that usually costs a microsecond then costs a
// hundred. A follower that asks thousands of times a second about a
// directory that a writer makes and removes for every transaction meets
// that often; the notices never touch the directory itself.
#ifndef QVT_FOUNDATION_UTL_NAMEWATCH_H
#define QVT_FOUNDATION_UTL_NAMEWATCH_H

#include <sys/types.h>

#include <memory>
#include <string>

#include "cow_String.h"

class utl_NameWatch {
 public:
  // Starts watching path's parent. Answers nullptr where notices cannot be
  // trusted or had: a parent on a file system that other machines may
  // change (only local disk and memory file systems are watched), no
  // parent, or no notice channel left for this user. Never throws.
  static std::unique_ptr<utl_NameWatch> Start(const cow_String& path);
  ~utl_NameWatch();
  utl_NameWatch(const utl_NameWatch&) = delete;
  utl_NameWatch& operator=(const utl_NameWatch&) = delete;

  // Whether path names a directory now: the state found when the watch
  // started, brought up to date with every notice since. When notices
  // were lost, or the parent itself was removed or moved, it looks the
  // path up instead, as every later question then does; so does a child
  // forked after the watch started. Never throws.
  bool IsDirectory();

 private:
  utl_NameWatch(int fd, const cow_String& path, std::string name);
  // Applies the waiting notices; false once they can no longer be trusted.
  bool TakeNotices();

  int m_Fd;
  pid_t m_Owner;  // the process that started the watch
  cow_String m_Path;
  std::string m_Name;
  bool m_IsDirectory = false;
  bool m_Trusted = true;
};

#endif  // QVT_FOUNDATION_UTL_NAMEWATCH_H
