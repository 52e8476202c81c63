// Summaries of objects through the library's public handles.
#include "qvtdb_Objects.h"

qvtdb_ObjectSummary qvtdb_Summarize(qvtdb_OpenDatabase& db, const qvtdb_Layout& layout, qvt_Handle handle) {
  qvtdb_ObjectSummary summary;
  summary.handleType = db.database.HandleType(handle);
  summary.kind = qvtdb_ObjectKind(summary.handleType);
  {
    qvt_Space space = db.database.Space(handle, -1);
    summary.length = space.Length();
  }
  summary.extents = static_cast<std::int64_t>(layout.Chain(handle).size());
  summary.details = qvtdb_FixedSpaceRole(handle);
  if (summary.handleType == qvt_TypeTable) {
    qvt_Table table = db.database.Table(handle, -1, -1);
    summary.details = "class " + table.TableMetadata().Name() + ", " + std::to_string(table.Length()) + " rows";
  }
  return summary;
}
