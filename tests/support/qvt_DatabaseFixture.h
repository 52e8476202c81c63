// Database files of every kind in a scratch folder, so that the same test can run on each kind.
#ifndef QVT_TESTS_SUPPORT_QVT_DATABASEFIXTURE_H
#define QVT_TESTS_SUPPORT_QVT_DATABASEFIXTURE_H

#include <memory>
#include <string>
#include <vector>

#include "qvt_DatabaseReprFile.h"
#include "qvt_File.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

namespace qvt_test {

enum class FileKind { Local, Compressed };

// access: 0 read, 1 update, 2 create; opening finds the kind in the file.
qvt_File OpenFileOfKind(FileKind kind, const std::string& path, int access);

// Creates and opens databases by name inside one scratch folder.
class DatabaseFiles {
 public:
  explicit DatabaseFiles(FileKind kind = FileKind::Local) : m_Kind(kind) {}

  std::string Path(const std::string& name = "test.odb") const { return m_Dir.File(name); }

  // A new database in a new file.
  std::unique_ptr<qvt_DatabaseReprFile> Create(const std::string& name = "test.odb",
                                               const std::string& typeCode = "TEST",
                                               const std::string& description = "qvt test database",
                                               long creationTime = 20240101) const;
  // An existing database, for reading or (readOnly false) for update.
  std::unique_ptr<qvt_DatabaseReprFile> Open(const std::string& name = "test.odb", bool readOnly = true,
                                             const std::string& typeCode = "") const;

 private:
  FileKind m_Kind;
  ScratchDir m_Dir;
};

// GoogleTest fixture over DatabaseFiles for the local kind.
class DatabaseFixture : public ::testing::Test, public DatabaseFiles {};

// A suite run once per kind of AllFileKinds(), named by KindParamName; a
// kind this build cannot create is skipped, with the reason.
class KindTest : public ::testing::TestWithParam<FileKind> {
 protected:
  KindTest() : m_Files(GetParam()) {}
  void SetUp() override;

  DatabaseFiles& Files() { return m_Files; }
  std::string Path(const std::string& name = "test.odb") const { return m_Files.Path(name); }

  DatabaseFiles m_Files;
};

std::vector<FileKind> AllFileKinds();
std::string KindParamName(const ::testing::TestParamInfo<FileKind>& info);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_DATABASEFIXTURE_H
