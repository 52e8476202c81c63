// Recognises remote file names of the form scheme://[user[:pass]@]host[:port]/path.
#ifndef QVT_FOUNDATION_UTL_URLPARSER_H
#define QVT_FOUNDATION_UTL_URLPARSER_H

#include "cow_String.h"

class utl_UrlParser {
 public:
  static bool IsUrl(const cow_String& name);
  static bool HasHost(const cow_String& url);
  static cow_String GetHost(const cow_String& url);
  static bool HasPort(const cow_String& url);
  static int GetPort(const cow_String& url);
  static bool HasPath(const cow_String& url);
  static cow_String GetPath(const cow_String& url);
  static bool HasUser(const cow_String& url);
  static cow_String GetUser(const cow_String& url);
  static bool HasPass(const cow_String& url);
  static cow_String GetPass(const cow_String& url);
};

#endif  // QVT_FOUNDATION_UTL_URLPARSER_H
