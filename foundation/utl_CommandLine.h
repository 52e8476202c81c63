// The host process's command line as keys and values, one per process.
// Read from the operating system on first use; a host (or a test) may set it
// explicitly instead. Keys come from arguments of the forms "-key value",
// "-key=value", "--key=value", "key=value" and a lone "-key" (a key with
// an empty value); other arguments are not keys. A later key wins.
#ifndef QVT_FOUNDATION_UTL_COMMANDLINE_H
#define QVT_FOUNDATION_UTL_COMMANDLINE_H

#include <map>
#include <vector>

#include "cow_String.h"

class utl_CommandLine {
 public:
  static utl_CommandLine& Instance();

  // Replaces the keys with those of argv[1] .. argv[argc-1].
  void Set(int argc, const char* const* argv);
  void Set(const std::vector<cow_String>& arguments);  // arguments after the program name
  void SetValue(const cow_String& key, const cow_String& value);
  void Remove(const cow_String& key);
  void Clear();

  bool IsMember(const cow_String& key) const;
  // The key's value. THROWS nex_TextException when the key is absent.
  cow_String ConstGetValue(const cow_String& key) const;
  // The key's value as a decimal int (optional sign). THROWS
  // nex_TextException when the key is absent or its value is not an int.
  int ConstGetValueAsInt(const cow_String& key) const;

 private:
  utl_CommandLine();

  std::map<cow_String, cow_String> m_Values;
};

#endif  // QVT_FOUNDATION_UTL_COMMANDLINE_H
