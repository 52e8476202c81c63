// Summaries of objects through the library's public handles.
#include "qvtdb_Objects.h"

namespace {
template <class T, int N>
std::string Shape(qvt_Array<T, N> array) {
  const int rows = array.Length();
  return std::to_string(rows) + (rows == 1 ? " row of " : " rows of ") + std::to_string(array.FieldCount());
}
}  // namespace

qvtdb_ObjectSummary qvtdb_Summarize(qvtdb_OpenDatabase& db, qvt_Handle handle) {
  qvtdb_ObjectSummary summary;
  summary.handleType = db.database.HandleType(handle);
  summary.kind = qvtdb_ObjectKind(summary.handleType);
  {
    qvt_Space space = db.database.Space(handle, -1);
    summary.length = space.Length();
  }
  const std::vector<cow_String> statistics = db.database.GetObjStatistics(handle);
  summary.extents = statistics.empty() ? 0 : qvtdb_StatisticValue(statistics.front());
  summary.details = qvtdb_FixedSpaceRole(handle);
  switch (summary.handleType) {
    case qvt_TypeTable: {
      qvt_Table table = db.database.Table(handle, -1, -1);
      const int rows = table.Length();
      summary.details = "class " + table.TableMetadata().Name() + ", " + std::to_string(rows) + (rows == 1 ? " row" : " rows");
      break;
    }
    case qvt_TypeInt:
      summary.details = Shape(db.database.ArrayInt(handle, -1, 0));
      break;
    case qvt_TypeFloat:
      summary.details = Shape(db.database.ArrayFloat(handle, -1, 0));
      break;
    case qvt_TypeDouble:
      summary.details = Shape(db.database.ArrayDouble(handle, -1, 0));
      break;
    case qvt_TypeString:
      summary.details = Shape(db.database.ArrayString(handle, -1, 0));
      break;
    default:
      break;
  }
  return summary;
}
