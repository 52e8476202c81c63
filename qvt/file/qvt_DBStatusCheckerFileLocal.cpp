// The local file's status checker: the base check, nothing to notify.
#include "qvt_DBStatusCheckerFileLocal.h"

qvt_DBStatusCheckerFileLocal::~qvt_DBStatusCheckerFileLocal() = default;

void qvt_DBStatusCheckerFileLocal::StatusChecked(qvt_FileStatus::QvtFileStatus status) { (void)status; }

void qvt_DBStatusCheckerFileLocal::FlushCountChanged() {}
