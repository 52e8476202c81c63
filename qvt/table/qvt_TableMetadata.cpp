// Table class shapes: definition, the stored record, merging a wanted shape
// with a stored one, and field lookups. Sits on the typed stream (records
// are read and written through the metadata pool's I/O buffer) and is used
// by the metadata pool, tables and rows.
//
// The metadata record is laid out in qvt_TableLayout.h. Fields stand in
// field map order; indices and presence are not stored.
#include "qvt_TableMetadata.h"

#include "qvt_IOS.h"
#include "qvt_TableReprMessages.h"

namespace {
const qvt_FieldMetadata& NoValue() {
  static const qvt_FieldMetadata noValue;
  return noValue;
}

// A type code read from a record. Codes the system does not know mark a
// damaged record; known codes that rows cannot hold are refused later, by
// the table that would lay them out.
qvt_Type ReadType(qvt_IOS& stream) {
  const int code = stream.ReadInt();
  switch (code) {
    case qvt_TypeNone:
    case qvt_TypeInt:
    case qvt_TypeHandle:
    case qvt_TypeFloat:
    case qvt_TypeDouble:
    case qvt_TypeString:
    case qvt_TypeFixedString:
    case qvt_TypeTable:
    case qvt_TypeTaggedStream:
    case qvt_TypeOther:
      return static_cast<qvt_Type>(code);
    default:
      NEX_THROW_TEXT(cow_String(qvt_TableMsg::kMetadataCorrupt));
  }
}
}  // namespace

qvt_TableMetadata::qvt_TableMetadata() = default;

qvt_TableMetadata::qvt_TableMetadata(const cow_String& className, int classVersion)
    : m_Name(className), m_ClassVersion(classVersion) {}

qvt_TableMetadata::qvt_TableMetadata(qvt_IOS& stream, int classVersion) : m_ClassVersion(classVersion) {
  const long long end = ReadHeader(stream);
  while (stream.Location() < end) {
    const qvt_Type type = ReadType(stream);
    const cow_String name = stream.ReadString();
    if (m_FieldMap.count(name)) QVT_TABLE_THROW(qvt_TableMsg::kDuplicateField, name);
    m_FieldMap.emplace(name, qvt_FieldMetadata(name, type, m_FieldCount, 1));
    ++m_FieldCount;
  }
  BuildIndexTable();
}

qvt_TableMetadata::qvt_TableMetadata(qvt_IOS& stream, qvt_FieldMap wanted, int classVersion)
    : m_FieldCount(static_cast<int>(wanted.size())), m_ClassVersion(classVersion) {
  const long long end = ReadHeader(stream);
  while (stream.Location() < end) {
    const qvt_Type type = ReadType(stream);
    const cow_String name = stream.ReadString();
    if (m_FieldMap.count(name)) QVT_TABLE_THROW(qvt_TableMsg::kDuplicateField, name);
    auto want = wanted.find(name);
    if (want != wanted.end()) {
      if (want->second.m_Type != type) QVT_TABLE_THROW(qvt_TableMsg::kMergeTypeMismatch, name);
      qvt_FieldMetadata field = want->second;
      field.m_Present = 1;
      m_FieldMap.emplace(name, field);
      wanted.erase(want);
    } else {
      m_FieldMap.emplace(name, qvt_FieldMetadata(name, type, m_FieldCount, 1));
      ++m_FieldCount;
    }
  }
  // Asked for but not stored: known, with the caller's index, but absent.
  for (auto& entry : wanted) {
    entry.second.m_Present = 0;
    m_FieldMap.emplace(entry.first, entry.second);
  }
  BuildIndexTable();
}

qvt_TableMetadata::qvt_TableMetadata(const qvt_TableMetadata& other)
    : m_Name(other.m_Name),
      m_FieldCount(other.m_FieldCount),
      m_FieldMap(other.m_FieldMap),
      m_ClassVersion(other.m_ClassVersion) {
  BuildIndexTable();
}

qvt_TableMetadata::qvt_TableMetadata(const qvt_TableMetadata& other, int classVersion)
    : m_Name(other.m_Name),
      m_FieldCount(other.m_FieldCount),
      m_FieldMap(other.m_FieldMap),
      m_ClassVersion(classVersion) {
  BuildIndexTable();
}

qvt_TableMetadata& qvt_TableMetadata::operator=(const qvt_TableMetadata& other) {
  if (this == &other) return *this;
  m_Name = other.m_Name;
  m_FieldCount = other.m_FieldCount;
  m_FieldMap = other.m_FieldMap;
  m_ClassVersion = other.m_ClassVersion;
  BuildIndexTable();
  return *this;
}

qvt_TableMetadata::~qvt_TableMetadata() = default;

long long qvt_TableMetadata::ReadHeader(qvt_IOS& stream) {
  const long long start = stream.Location();
  const int length = stream.ReadInt();
  const int width = stream.StringManager().ExternalSize();
  // A record always holds the class name and whole fields; anything else
  // would have the field loop read across the next record.
  if (length < 4 + width || (length - 4 - width) % (4 + width) != 0) {
    NEX_THROW_TEXT(cow_String(qvt_TableMsg::kMetadataCorrupt));
  }
  m_Name = stream.ReadString();
  return start + length;
}

void qvt_TableMetadata::BuildIndexTable() {
  m_IndexTable.assign(static_cast<std::size_t>(m_FieldCount), nullptr);
  for (const auto& entry : m_FieldMap) {
    const int index = entry.second.m_Index;
    NEX_ASSERT(index >= 0 && index < m_FieldCount);
    NEX_ASSERT(m_IndexTable[static_cast<std::size_t>(index)] == nullptr);
    m_IndexTable[static_cast<std::size_t>(index)] = &entry.second;
  }
  NEX_ASSERT(m_FieldMap.size() == static_cast<std::size_t>(m_FieldCount));
}

int qvt_TableMetadata::Define(const cow_String& name, qvt_Type type) {
  auto inserted = m_FieldMap.emplace(name, qvt_FieldMetadata(name, type, m_FieldCount, 1));
  if (!inserted.second) QVT_TABLE_THROW(qvt_TableMsg::kDuplicateField, name);
  // Kept in step with every definition, so lookups by index work on a shape
  // that was only defined.
  m_IndexTable.push_back(&inserted.first->second);
  return m_FieldCount++;
}

int qvt_TableMetadata::DefineIntField(const cow_String& name) { return Define(name, qvt_TypeInt); }
int qvt_TableMetadata::DefineHandleField(const cow_String& name) { return Define(name, qvt_TypeHandle); }
int qvt_TableMetadata::DefineFloatField(const cow_String& name) { return Define(name, qvt_TypeFloat); }
int qvt_TableMetadata::DefineDoubleField(const cow_String& name) { return Define(name, qvt_TypeDouble); }
int qvt_TableMetadata::DefineStringField(const cow_String& name) { return Define(name, qvt_TypeString); }

void qvt_TableMetadata::Verify(const qvt_FieldHandle& handle, qvt_Type type) const {
  if (handle.ByIndex()) {
    const qvt_FieldMetadata* field = FieldByIndex(handle.Index());
    if (!field || !field->m_Present) QVT_TABLE_THROW(qvt_TableMsg::kNoFieldByIndex, handle.Index());
    if (field->m_Type != type) QVT_TABLE_THROW(qvt_TableMsg::kTypeMismatchByIndex, handle.Index());
    return;
  }
  auto it = m_FieldMap.find(handle.Name());
  if (it == m_FieldMap.end() || !it->second.m_Present) {
    QVT_TABLE_THROW(qvt_TableMsg::kNoFieldByName, handle.Name());
  }
  if (it->second.m_Type != type) QVT_TABLE_THROW(qvt_TableMsg::kTypeMismatchByName, handle.Name());
}

const qvt_FieldMetadata& qvt_TableMetadata::GetFieldMD(const qvt_FieldHandle& handle) const {
  if (handle.ByIndex()) {
    const qvt_FieldMetadata* field = FieldByIndex(handle.Index());
    return field ? *field : NoValue();
  }
  auto it = m_FieldMap.find(handle.Name());
  return it == m_FieldMap.end() ? NoValue() : it->second;
}

int qvt_TableMetadata::CopyAllowed(const qvt_TableMetadata& other) const {
  int answer = 1;
  int present = 0;
  for (const auto& entry : m_FieldMap) {
    const qvt_FieldMetadata& field = entry.second;
    if (!field.m_Present) continue;
    ++present;
    if (field.m_Type == qvt_TypeHandle) return 0;
    if (field.m_Type == qvt_TypeString) answer = 2;
    auto there = other.m_FieldMap.find(entry.first);
    // A field the other shape knows but does not store is as good as
    // missing: its rows hold no bytes for it, so a block copy would shift
    // every field behind it.
    if (there == other.m_FieldMap.end() || !there->second.m_Present || there->second.m_Type != field.m_Type ||
        there->second.m_Name != field.m_Name) {
      return 0;
    }
  }
  if (present < other.PresentFieldCount()) return 3;
  return answer;
}

int qvt_TableMetadata::PresentFieldCount() const {
  int present = 0;
  for (const auto& entry : m_FieldMap) present += entry.second.m_Present ? 1 : 0;
  return present;
}

int qvt_TableMetadata::RecordLength(int referenceWidth) const {
  return (referenceWidth + 4) * static_cast<int>(m_FieldMap.size()) + 4 + referenceWidth;
}

void qvt_TableMetadata::WriteTo(qvt_IOS& stream) const {
  stream.WriteInt(RecordLength(stream.StringManager().ExternalSize()));
  stream.WriteString(m_Name);
  for (const auto& entry : m_FieldMap) entry.second.WriteTo(stream);
}
