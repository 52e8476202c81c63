// Database files of a chosen kind, public databases over them, their bytes.
#include "qvt_DatabaseFixture.h"

#include <stdexcept>

#include "nex_Exception.h"
#include "qvt_ObjectShapes.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_TablesFixture.h"

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

std::string KindParamName(const ::testing::TestParamInfo<FileKind>& info) {
  return info.param == FileKind::Local ? "Local" : "Compressed";
}

qvt_File OpenFileOfKind(FileKind kind, const std::string& path, int access) {
  if (access == 2 && kind == FileKind::Compressed) return qvt_File::CreateCompressed(path);
  return qvt_File::Open(path, access, access == 0);
}

std::unique_ptr<qvt_DatabaseReprFile> DatabaseFiles::Create(const std::string& name,
                                                            const std::string& typeCode,
                                                            const std::string& description,
                                                            long creationTime) const {
  auto db = std::make_unique<qvt_DatabaseReprFile>();
  db->Create(OpenFileOfKind(m_Kind, Path(name), 2), typeCode, description, creationTime);
  return db;
}

std::unique_ptr<qvt_DatabaseReprFile> DatabaseFiles::Open(const std::string& name, bool readOnly,
                                                          const std::string& typeCode) const {
  auto db = std::make_unique<qvt_DatabaseReprFile>();
  db->Open(OpenFileOfKind(m_Kind, Path(name), readOnly ? 0 : 1), typeCode);
  return db;
}

qvt_Database DatabaseKindTest::CreateDb(const std::string& name) const {
  return qvt_Database(m_Files.Create(name).release());
}

qvt_Database DatabaseKindTest::OpenDb(const std::string& name, bool readOnly) const {
  return qvt_Database(m_Files.Open(name, readOnly).release());
}

namespace {
qvt_DatabaseReprFile& FileOf(qvt_Database& db) {
  auto* file = dynamic_cast<qvt_DatabaseReprFile*>(db.Repr());
  if (!file) throw std::runtime_error("not a database file");
  return *file;
}
}  // namespace

std::vector<unsigned char> SpaceBytes(qvt_Database& db, qvt_Handle handle) {
  return ObjectBytes(FileOf(db), handle);
}

qvt_TableMetadata AllFieldTypes(const std::string& name) {
  return Shape(name, {{"i", qvt_TypeInt},
                      {"h", qvt_TypeHandle},
                      {"f", qvt_TypeFloat},
                      {"d", qvt_TypeDouble},
                      {"s", qvt_TypeString}});
}

std::int64_t StringReference(qvt_Database& db, const std::string& text) {
  return FileOf(db).StringPool().StringOffset(text);
}

}  // namespace qvt_test
