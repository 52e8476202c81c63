// Finding programs below install directories named by an environment
// variable (a colon-separated list, like PATH).
#ifndef QVT_FOUNDATION_UTL_PATHFINDER_H
#define QVT_FOUNDATION_UTL_PATHFINDER_H

#include "cow_String.h"

class utl_PathFinder {
 public:
  // The first "<dir>/<subDir>/<fileName>" that is an executable regular
  // file, for each dir listed in the environment variable envVar, in order;
  // "" when the variable is unset or no such file exists.
  static cow_String getSubDirPath(const char* envVar, const cow_String& subDir, const cow_String& fileName);
  // Whether path names an executable regular file.
  static bool IsExecutableFile(const cow_String& path);
};

#endif  // QVT_FOUNDATION_UTL_PATHFINDER_H
