// Database files of a chosen kind in a scratch folder.
#include "qvt_DatabaseFixture.h"

namespace qvt_test {

const char* FileKindName(FileKind kind) { return kind == FileKind::Local ? "Local" : "Compressed"; }

qvt_File OpenFileOfKind(FileKind kind, const std::string& path, int access) {
  if (access == 2 && kind == FileKind::Compressed) return qvt_File::CreateCompressed(path);
  return qvt_File::Open(path, access, access == 0);
}

std::unique_ptr<qvt_DatabaseReprFile> DatabaseFiles::Create(const std::string& name, const std::string& typeCode,
                                                            const std::string& description,
                                                            long creationTime) const {
  qvt_File file = OpenFileOfKind(m_Kind, Path(name), 2);
  auto db = std::make_unique<qvt_DatabaseReprFile>();
  db->Create(file, typeCode, description, creationTime);
  return db;
}

std::unique_ptr<qvt_DatabaseReprFile> DatabaseFiles::Open(const std::string& name, bool readOnly,
                                                          const std::string& typeCode) const {
  qvt_File file = OpenFileOfKind(m_Kind, Path(name), readOnly ? 0 : 1);
  auto db = std::make_unique<qvt_DatabaseReprFile>();
  db->Open(file, typeCode);
  return db;
}

}  // namespace qvt_test
