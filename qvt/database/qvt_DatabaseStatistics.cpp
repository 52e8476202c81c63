// The public database's diagnostics, forwarded to its implementation.
#include "qvt_Database.h"

#include "qvt_DatabaseRepr.h"

std::vector<cow_String> qvt_Database::GetObjStatistics(const qvt_Handle& handle) {
  return m_Repr->GetObjStatistics(handle);
}

std::vector<cow_String> qvt_Database::GetDBStatistics() { return m_Repr->GetDBStatistics(); }

cow_String qvt_Database::GetObjectLocationReport(const utl_FileOffset& offset) {
  return m_Repr->GetObjectLocationReport(offset);
}

std::vector<qvt_Handle> qvt_Database::ObjectHandles() { return m_Repr->ObjectHandles(); }
