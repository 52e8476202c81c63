// The database base class: the metadata pool that every kind of database
// owns on the space of handle 3.
#include "qvt_DatabaseRepr.h"

#include "nex_Exception.h"
#include "qvt_DBMetadata.h"
#include "qvt_SpaceRepr.h"

qvt_DatabaseRepr::qvt_DatabaseRepr() = default;

qvt_DatabaseRepr::~qvt_DatabaseRepr() { DeleteMetadataPool(); }

qvt_DBMetadata& qvt_DatabaseRepr::Metadata() const {
  NEX_ASSERT(m_Metadata != nullptr);
  return *m_Metadata;
}

void qvt_DatabaseRepr::AttachMetadataPool(qvt_SpaceRepr* space, bool indexStoredRecords) {
  m_Metadata = std::make_unique<qvt_DBMetadata>(space);
  if (indexStoredRecords) IndexMetadataPool();
}

void qvt_DatabaseRepr::FlushMetadataPool() {
  if (m_Metadata) m_Metadata->Flush();
}

utl_FileOffset qvt_DatabaseRepr::MetadataPoolSize() { return m_Metadata ? m_Metadata->PoolSize() : 0; }

void qvt_DatabaseRepr::IndexMetadataPool() {
  if (m_Metadata) m_Metadata->IndexRecords();
}

void qvt_DatabaseRepr::DeleteMetadataPool() { m_Metadata.reset(); }
