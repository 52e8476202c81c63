// The full structural check behind qvtdb check. First the raw structure,
// read without the database layer: header, linkage blocks and extents
// (inside the file, not overlapping, no loops), the string pool, the
// metadata pool and the header of every object. Then every object whose
// structure holds is opened through the library and read to its end by its
// type. Nothing read is trusted, every walk is bounded, and no failure
// escapes: each becomes a problem in the list.
#ifndef QVT_TOOLS_QVTDB_QVTDB_CHECK_H
#define QVT_TOOLS_QVTDB_QVTDB_CHECK_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "qvt_DBMetadata.h"
#include "qvt_Handle.h"
#include "qvtdb_Layout.h"

class qvtdb_Checker {
 public:
  explicit qvtdb_Checker(const std::string& path);
  ~qvtdb_Checker();
  qvtdb_Checker(const qvtdb_Checker&) = delete;
  qvtdb_Checker& operator=(const qvtdb_Checker&) = delete;

  // Runs every check; never throws.
  void Run();
  const std::vector<std::string>& Problems() const { return m_Problems; }
  // One line on a sound file: kind, objects by kind, length, flush count.
  std::string Summary() const;

 private:
  // Raw structure (qvtdb_CheckStructure.cpp), through the library's
  // decoders.
  void CheckStringPool();
  void CheckMetadataPool();
  void CheckObject(qvt_Handle handle);
  // The pooled string that a stored reference names, when it names one.
  std::optional<std::string> PooledString(const unsigned char* reference) const;
  // Keeps the texts of problems a decoder found.
  void Take(const qvt_Problems& problems);
  // Reads count bytes of a space at position; false when they are not all there.
  bool SpaceBytes(qvt_Handle handle, std::int64_t position, unsigned char* buffer, std::int64_t count) const;

  // Through the library (qvtdb_CheckRead.cpp).
  void ReadThroughLibrary();

  void Problem(const std::string& text) { m_Problems.push_back(text); }

  std::string m_Path;
  std::unique_ptr<qvtdb_Layout> m_Layout;
  std::vector<std::string> m_Problems;
  bool m_PoolsSound = false;
  std::map<std::int64_t, std::string> m_Strings;      // the string pool's records by offset
  std::map<std::int64_t, qvt_ClassRecord> m_Classes;  // by record offset
  std::set<qvt_Handle> m_SoundObjects;               // raw structure holds: read them
  std::map<std::string, int> m_Kinds;                // objects by kind
  // The bytes of a space last read by SpaceBytes.
  static constexpr std::int64_t kWindowBytes = 65536;
  mutable qvt_Handle m_WindowHandle = 0;
  mutable std::int64_t m_WindowStart = 0;
  mutable std::vector<unsigned char> m_Window;
};

#endif  // QVT_TOOLS_QVTDB_QVTDB_CHECK_H
