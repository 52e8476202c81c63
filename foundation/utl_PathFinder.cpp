// POSIX program lookup: stat and access(X_OK).
#include "utl_PathFinder.h"

#include <unistd.h>

#include "utl_File.h"
#include <sys/stat.h>

bool utl_PathFinder::IsExecutableFile(const cow_String& path) {
  struct stat st;
  if (path.empty() || path.find('\0') != cow_String::npos) return false;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

cow_String utl_PathFinder::getSubDirPath(const char* envVar, const cow_String& subDir,
                                         const cow_String& fileName) {
  cow_String list;
  if (!utl_GetEnv(envVar, &list)) return cow_String();
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == cow_String::npos) end = list.size();
    const cow_String dir = list.substr(start, end - start);
    if (!dir.empty()) {
      cow_String candidate = dir + "/";
      if (!subDir.empty()) candidate += subDir + "/";
      candidate += fileName;
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return cow_String();
}
