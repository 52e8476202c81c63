// Database files of a chosen kind in a scratch folder.
#include "qvt_DatabaseFixture.h"

#include "nex_Exception.h"

namespace qvt_test {

void KindTest::SetUp() {
  if (GetParam() != FileKind::Compressed) return;
  try {
    OpenFileOfKind(FileKind::Compressed, m_Files.Path("probe.odb"), 2);
  } catch (const nex_Exception& e) {
    GTEST_SKIP() << "compressed files unavailable in this build: " << e.AsString();
  }
}

std::vector<FileKind> AllFileKinds() { return {FileKind::Local, FileKind::Compressed}; }

std::string KindParamName(const ::testing::TestParamInfo<FileKind>& info) { return FileKindName(info.param); }

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
