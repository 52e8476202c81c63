// URL recognition: a scheme of letters, digits, '+', '-' or '.' starting with
// a letter and at least two characters long (so "C:/x" is not a URL),
// followed by "://" and a non-empty authority.
#include "utl_UrlParser.h"

#include <cctype>
#include <cstdlib>

namespace {
struct Parts {
  bool ok = false;
  cow_String user, pass, host, port, path;
  bool hasUser = false, hasPass = false, hasPort = false, hasPath = false;
};

Parts Parse(const cow_String& url) {
  Parts p;
  const size_t sep = url.find("://");
  if (sep == cow_String::npos || sep < 2) return p;
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return p;
  for (size_t i = 0; i < sep; ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return p;
  }
  const size_t start = sep + 3;
  size_t slash = url.find('/', start);
  cow_String authority = url.substr(start, slash == cow_String::npos ? cow_String::npos : slash - start);
  if (slash != cow_String::npos) {
    p.hasPath = true;
    p.path = url.substr(slash);
  }
  const size_t at = authority.rfind('@');
  if (at != cow_String::npos) {
    cow_String userinfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const size_t colon = userinfo.find(':');
    p.hasUser = true;
    p.user = userinfo.substr(0, colon);
    if (colon != cow_String::npos) {
      p.hasPass = true;
      p.pass = userinfo.substr(colon + 1);
    }
  }
  const size_t colon = authority.rfind(':');
  if (colon != cow_String::npos) {
    p.hasPort = true;
    p.port = authority.substr(colon + 1);
    authority = authority.substr(0, colon);
  }
  p.host = authority;
  p.ok = !p.host.empty();
  return p;
}
}  // namespace

bool utl_UrlParser::IsUrl(const cow_String& name) { return Parse(name).ok; }
bool utl_UrlParser::HasHost(const cow_String& url) { return Parse(url).ok; }
cow_String utl_UrlParser::GetHost(const cow_String& url) { return Parse(url).host; }
bool utl_UrlParser::HasPort(const cow_String& url) {
  const Parts p = Parse(url);
  return p.ok && p.hasPort && !p.port.empty();
}
int utl_UrlParser::GetPort(const cow_String& url) { return std::atoi(Parse(url).port.c_str()); }
bool utl_UrlParser::HasPath(const cow_String& url) {
  const Parts p = Parse(url);
  return p.ok && p.hasPath;
}
cow_String utl_UrlParser::GetPath(const cow_String& url) { return Parse(url).path; }
bool utl_UrlParser::HasUser(const cow_String& url) {
  const Parts p = Parse(url);
  return p.ok && p.hasUser;
}
cow_String utl_UrlParser::GetUser(const cow_String& url) { return Parse(url).user; }
bool utl_UrlParser::HasPass(const cow_String& url) {
  const Parts p = Parse(url);
  return p.ok && p.hasPass;
}
cow_String utl_UrlParser::GetPass(const cow_String& url) { return Parse(url).pass; }
