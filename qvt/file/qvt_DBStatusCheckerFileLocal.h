// The status checker a local file owns: the plain check, with change
// notifications that do nothing, since the local file answers FileStatus
// straight from CheckStatus and keeps no state of its own about it.
#ifndef QVT_IMPL_QVT_DBSTATUSCHECKERFILELOCAL_H
#define QVT_IMPL_QVT_DBSTATUSCHECKERFILELOCAL_H

#include "qvt_DBStatusCheckerFile.h"

class qvt_DBStatusCheckerFileLocal : public qvt_DBStatusCheckerFile {
 public:
  // THROWS what the base constructor throws when the file cannot be read.
  explicit qvt_DBStatusCheckerFileLocal(const cow_String& fileName) : qvt_DBStatusCheckerFile(fileName) {}
  ~qvt_DBStatusCheckerFileLocal() override;

 protected:
  void StatusChecked(qvt_FileStatus::QvtFileStatus status) override;
  void FlushCountChanged() override;
};

#endif  // QVT_IMPL_QVT_DBSTATUSCHECKERFILELOCAL_H
