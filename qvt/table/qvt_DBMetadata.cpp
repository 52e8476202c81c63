// The metadata pool: indexing records by class name, binding classes, and
// appending the records of new ones through a 1024-byte I/O buffer.
#include "qvt_DBMetadata.h"

#include <cstdio>
#include <exception>
#include <set>
#include <string>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_IOMessages.h"
#include "qvt_Problems.h"
#include "qvt_TableLayout.h"
#include "qvt_TableReprMessages.h"

namespace {
constexpr const char* kCorrupt = qvt_TableMsg::kMetadataCorrupt;
constexpr const char* kNoSuchClass = "***ERROR: Can't find table metadata, \"%s\" in KELVOR database file.";
constexpr const char* kNoSuchHandle = "***ERROR: Can't find metadata with handle.";
// A checker's walk stops listing the pool's problems after this many.
constexpr std::size_t kMostProblems = 20;

std::int32_t Int32At(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }
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
  const Reader read = [this](utl_FileOffset position, unsigned char* bytes, int count) {
    m_Buffer.Seek(position);
    return m_Buffer.Read(reinterpret_cast<char*>(bytes), count) == count;
  };
  qvt_StringManager& pool = m_Buffer.StringManager();
  const Lookup lookup = [&pool](const unsigned char* reference, cow_String* text) {
    pool.InternalizeStrings(reinterpret_cast<const char*>(reference), text, 1);
    return true;
  };
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  for (const qvt_ClassRecord& record : ScanRecords(PoolSize(), read, lookup, false, &problems))
    m_NameIndex.emplace(record.name, record.offset);
}

std::vector<qvt_ClassRecord> qvt_DBMetadata::ScanRecords(utl_FileOffset poolSize, const Reader& read,
                                                         const Lookup& lookup, bool withFields,
                                                         qvt_Problems* problems) {
  std::vector<qvt_ClassRecord> records;
  std::map<cow_String, utl_FileOffset> byName;
  const std::size_t before = problems->Size();
  unsigned char bytes[qvt_MetadataRecordHeadBytes];
  utl_FileOffset position = kFirstRecord;
  while (position < poolSize) {
    const std::string where = "the metadata record at offset " + std::to_string(position);
    const utl_FileOffset left = poolSize - position;
    if (left < qvt_MetadataRecordHeadBytes) {
      problems->Add(
          "the metadata pool ends inside the head of its record at offset " + std::to_string(position),
          left < 4 ? qvt_IOMessages::kUnexpectedEof : kCorrupt);
      break;
    }
    if (!read(position, bytes, qvt_MetadataRecordHeadBytes)) {
      problems->Add(where + " cannot be read whole", qvt_IOMessages::kUnexpectedEof);
      break;
    }
    // A length that cannot hold a record would stall the walk or land it
    // inside another record.
    const std::int32_t size = Int32At(bytes);
    if (size < qvt_MetadataRecordHeadBytes ||
        (size - qvt_MetadataRecordHeadBytes) % qvt_MetadataFieldBytes != 0) {
      problems->Add(where + " has a length of " + std::to_string(size) + ", which no class record has",
                    size < qvt_MetadataRecordHeadBytes ? kCorrupt : "");
      if (size < qvt_MetadataRecordHeadBytes) break;
    }
    if (size > left) {
      problems->Add(where + " (" + std::to_string(size) + " bytes) runs past the end of the pool (" +
                        std::to_string(poolSize) + " bytes)",
                    kCorrupt);
      break;
    }
    qvt_ClassRecord record;
    record.offset = position;
    record.named = lookup(bytes + qvt_MetadataNameOffset, &record.name);
    if (!record.named)
      problems->Add(where + " names its class by a reference that starts no string of the string pool");
    std::set<cow_String> fieldNames;
    for (std::int32_t at = qvt_MetadataRecordHeadBytes; withFields && at + qvt_MetadataFieldBytes <= size;
         at += qvt_MetadataFieldBytes) {
      if (!read(position + at, bytes, qvt_MetadataFieldBytes)) {
        problems->Add(where + " cannot be read whole");
        break;
      }
      const int type = Int32At(bytes);
      const std::string which =
          "field " + std::to_string(record.fieldTypes.size()) + " of class \"" + record.name + "\"";
      const int width = qvt_TableFieldWidth(type, qvt_ReferenceBytes);
      if (width < 0)
        problems->Add(which + " has the type code " + std::to_string(type) + ", which is not a field type");
      cow_String fieldName;
      if (!lookup(bytes + qvt_MetadataNameOffset, &fieldName)) {
        problems->Add(which + " is named by a reference that starts no string of the string pool");
      } else if (!fieldNames.insert(fieldName).second) {
        problems->Add("class \"" + record.name + "\" has the field \"" + fieldName + "\" twice");
      }
      record.fieldTypes.push_back(type);
      record.rowSize += width < 0 ? qvt_ReferenceBytes : width;
    }
    if (withFields) record.rowSize += qvt_TableBitmapBytes(static_cast<int>(record.fieldTypes.size()));
    if (record.named) {
      const auto stored = byName.emplace(record.name, position);
      if (!stored.second) {
        problems->Add("the class \"" + record.name + "\" is stored twice, at offsets " +
                          std::to_string(stored.first->second) + " and " + std::to_string(position) +
                          " of the metadata pool",
                      kCorrupt);
      }
    }
    records.push_back(std::move(record));
    position += size;
    if (withFields && problems->Size() - before >= kMostProblems) {
      problems->Add("the metadata pool has more problems; the rest is not looked at");
      break;
    }
  }
  return records;
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
