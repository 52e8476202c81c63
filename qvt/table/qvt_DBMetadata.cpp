// The metadata pool: indexing records by class name, binding classes, and
// appending the records of new ones through a 1024-byte I/O buffer.
#include "qvt_DBMetadata.h"

#include <cstdio>
#include <exception>

#include "atr_translate.h"
#include "nex_Exception.h"

namespace {
constexpr const char* kCorrupt = "***ERROR: Metadata is corrupt in KELVOR database file.";
constexpr const char* kNoSuchClass = "***ERROR: Can't find table metadata, \"%s\" in KELVOR database file.";
constexpr const char* kNoSuchHandle = "***ERROR: Can't find metadata with handle.";
}  // namespace

qvt_DBMetadata::qvt_DBMetadata(qvt_SpaceRepr* space) : m_Space(space), m_Buffer(*space, kBufferSize) {}

qvt_DBMetadata::~qvt_DBMetadata() {
  try {
    m_Buffer.Flush();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "*** WARNING: metadata records were not written: %s\n", e.what());
  }
}

void qvt_DBMetadata::IndexRecords() {
  const int width = m_Buffer.StringManager().ExternalSize();
  const utl_FileOffset poolSize = PoolSize();
  utl_FileOffset position = kFirstRecord;
  while (position < poolSize) {
    m_Buffer.Seek(position);
    const int size = m_Buffer.ReadInt();
    // A length that cannot hold a record would stall the scan or land it
    // inside another record.
    if (size < 4 + width || size > poolSize - position) NEX_THROW_TEXT(cow_String(kCorrupt));
    const cow_String name = m_Buffer.ReadString();
    auto found = m_NameIndex.find(name);
    if (found == m_NameIndex.end()) {
      m_NameIndex.emplace(name, position);
    } else if (found->second != position) {
      NEX_THROW_TEXT(cow_String(kCorrupt));
    }
    position += size;
  }
}

void qvt_DBMetadata::Flush() { m_Buffer.Flush(); }

utl_FileOffset qvt_DBMetadata::PoolSize() { return m_Space->Length(); }

bool qvt_DBMetadata::HasTable(const cow_String& name) const { return m_NameIndex.count(name) != 0; }

const utl_FileOffset& qvt_DBMetadata::GetTableMetadataHandle(const cow_String& name) const {
  auto found = m_NameIndex.find(name);
  if (found == m_NameIndex.end()) NEX_THROW_TEXT(atr_Format(kNoSuchClass, name));
  return found->second;
}

const qvt_TableMetadata& qvt_DBMetadata::GetTableMetadata(const utl_FileOffset& handle) const {
  auto found = m_Bound.find(handle);
  if (found == m_Bound.end()) NEX_THROW_TEXT(cow_String(kNoSuchHandle));
  return *found->second;
}

const qvt_TableMetadata& qvt_DBMetadata::GetTableMetadata(const cow_String& name) const {
  return GetTableMetadata(GetTableMetadataHandle(name));
}

std::vector<cow_String> qvt_DBMetadata::GetTableMetadataNames() const {
  std::vector<cow_String> names;
  names.reserve(m_NameIndex.size());
  for (const auto& entry : m_NameIndex) names.push_back(entry.first);
  return names;
}

int qvt_DBMetadata::VersionOf(const cow_String& name, int fallback) const {
  auto found = m_Versions.find(name);
  return found == m_Versions.end() ? fallback : found->second;
}

const qvt_TableMetadata& qvt_DBMetadata::Bind(const qvt_TableMetadata& wanted) {
  auto stored = m_NameIndex.find(wanted.Name());
  if (stored != m_NameIndex.end()) {
    const utl_FileOffset offset = stored->second;
    auto bound = m_Bound.find(offset);
    if (bound != m_Bound.end()) return *bound->second;
    m_Buffer.Seek(offset);
    auto merged = std::make_unique<qvt_TableMetadata>(m_Buffer, wanted.FieldMap(),
                                                      VersionOf(wanted.Name(), wanted.ClassVersion()));
    return *m_Bound.emplace(offset, std::move(merged)).first->second;
  }
  const utl_FileOffset offset = m_Buffer.Length();
  m_Buffer.Seek(offset);
  wanted.WriteTo(m_Buffer);
  m_NameIndex.emplace(wanted.Name(), offset);
  auto copy = std::make_unique<qvt_TableMetadata>(wanted, VersionOf(wanted.Name(), wanted.ClassVersion()));
  return *m_Bound.emplace(offset, std::move(copy)).first->second;
}

void qvt_DBMetadata::Bind() {
  for (const auto& entry : m_NameIndex) {
    if (m_Bound.count(entry.second)) continue;
    m_Buffer.Seek(entry.second);
    m_Bound.emplace(entry.second, std::make_unique<qvt_TableMetadata>(m_Buffer, VersionOf(entry.first, 1)));
  }
}

void qvt_DBMetadata::InsertInMapClassName2ClassVersion(const cow_String& name, int version) {
  m_Versions.emplace(name, version);
}
