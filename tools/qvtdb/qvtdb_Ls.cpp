// qvtdb ls: every object of a database, one line each: handle, type as
// HandleType tells it, length in bytes, number of extents, and for tables
// the class name and row count.
#include <cstdio>
#include <iostream>

#include "nex_Exception.h"
#include "qvtdb_Database.h"
#include "qvtdb_Layout.h"
#include "qvtdb_Objects.h"
#include "qvtdb_Tool.h"

int qvtdb_Ls(const std::string& file) {
  qvtdb_OpenDatabase db(file);
  const qvtdb_Layout layout(db.file);
  int status = qvtdb_ExitOk;
  std::printf("%8s  %-14s %14s %8s  %s\n", "HANDLE", "TYPE", "LENGTH", "EXTENTS", "DETAILS");
  for (const qvt_Handle handle : layout.Spaces()) {
    try {
      const qvtdb_ObjectSummary object = qvtdb_Summarize(db, handle);
      std::printf("%8u  %-14s %14lld %8lld%s%s\n", handle, object.kind.c_str(),
                  static_cast<long long>(object.length), static_cast<long long>(object.extents),
                  object.details.empty() ? "" : "  ", object.details.c_str());
    } catch (const nex_Exception& e) {
      std::fflush(stdout);
      std::cerr << "qvtdb: object " << handle << ": " << qvtdb_OneLine(e.AsString()) << std::endl;
      status = qvtdb_ExitProblem;
    }
  }
  std::fflush(stdout);
  if (!layout.Problems().empty()) {
    std::cerr << qvtdb_StructureNote(file, static_cast<std::int64_t>(layout.Problems().size())) << std::endl;
    status = qvtdb_ExitProblem;
  }
  return status;
}
