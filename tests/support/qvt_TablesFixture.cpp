// Public databases of each file kind, and byte views of their spaces.
#include "qvt_TablesFixture.h"

#include <cstring>
#include <stdexcept>

#include "qvt_DatabaseReprFile.h"
#include "qvt_Linkage.h"
#include "qvt_Space.h"

namespace qvt_test {

qvt_Database DatabaseKindTest::CreateDb(const std::string& name) const {
  return qvt_Database(m_Files.Create(name).release());
}

qvt_Database DatabaseKindTest::OpenDb(const std::string& name, bool readOnly) const {
  return qvt_Database(m_Files.Open(name, readOnly).release());
}

std::vector<unsigned char> SpaceBytes(qvt_Database& db, qvt_Handle handle) {
  qvt_Space space = db.Space(handle, -1);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(space.Length()));
  space.Seek(0);
  if (!bytes.empty()) {
    const int got = space.Read(reinterpret_cast<char*>(bytes.data()), static_cast<int>(bytes.size()));
    if (got != static_cast<int>(bytes.size())) throw std::runtime_error("short space read");
  }
  return bytes;
}

qvt_TableMetadata AllFieldTypes(const std::string& name) {
  qvt_TableMetadata md(name, 1);
  md.DefineIntField("i");
  md.DefineHandleField("h");
  md.DefineFloatField("f");
  md.DefineDoubleField("d");
  md.DefineStringField("s");
  return md;
}

std::int64_t FileOffsetInSpace(qvt_Database& db, qvt_Handle handle, std::int64_t offsetInSpace) {
  auto* file = dynamic_cast<qvt_DatabaseReprFile*>(db.Repr());
  if (!file) throw std::runtime_error("not a database file");
  std::int64_t remaining = offsetInSpace;
  for (qvt_Handle h = handle; h != 0;) {
    const qvt_LinkageEntry& e = file->LinkageEntry(h);
    if (remaining < e.m_Length) return e.m_Location + remaining;
    remaining -= e.m_Length;
    h = e.m_Next;
  }
  throw std::runtime_error("offset beyond the space");
}

std::int64_t StringReference(qvt_Database& db, const std::string& text) {
  auto* file = dynamic_cast<qvt_DatabaseReprFile*>(db.Repr());
  if (!file) throw std::runtime_error("not a database file");
  return file->StringPool().StringOffset(text);
}

}  // namespace qvt_test
