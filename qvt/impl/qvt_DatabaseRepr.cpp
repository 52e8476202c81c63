// The database base class: the metadata pool that every kind of database
// owns on the space of handle 3.
#include "qvt_DatabaseRepr.h"

#include "qvt_SpaceRepr.h"

qvt_DatabaseRepr::qvt_DatabaseRepr() = default;

qvt_DatabaseRepr::~qvt_DatabaseRepr() { DeleteMetadataPool(); }

void qvt_DatabaseRepr::AttachMetadataPool(qvt_SpaceRepr* space, bool indexStoredRecords) {
  m_MetadataSpace.reset(space);
  if (indexStoredRecords) IndexMetadataPool();
}

void qvt_DatabaseRepr::FlushMetadataPool() {
  if (m_MetadataSpace) m_MetadataSpace->Flush();
}

utl_FileOffset qvt_DatabaseRepr::MetadataPoolSize() { return m_MetadataSpace ? m_MetadataSpace->Length() : 0; }

void qvt_DatabaseRepr::IndexMetadataPool() {
  // The records and their index belong to the metadata pool class; the
  // space alone holds nothing to index.
}

void qvt_DatabaseRepr::DeleteMetadataPool() { m_MetadataSpace.reset(); }
