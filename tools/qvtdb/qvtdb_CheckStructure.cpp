// The raw checks of qvtdb check: the two pools and the header of every
// object, read byte by byte through the linkage.
//
// String pool (handle 1), ints big-endian:
//   OFFSET SIZE CONTENT
//        0    4 marker 0xAAFFBBEE
//        4    … records: length L, L bytes, zeros up to a multiple of 4
// Metadata pool (handle 3):
//        0    4 marker 0xFAAAEBBB
//        4    … records: length (12 + 12 n), class name reference (8),
//               then n times: field type (4), field name reference (8)
// A reference is the pool offset of a string record as a big-endian double.
// Objects start with a marker: a table 0xAAAFBBBE, flush count, metadata
// record offset (12 bytes, then rows); an array 0xFFFAEEEB, flush count,
// element type, values per row (16 bytes, then rows); a tagged stream
// 0xFAAFEBBE, flush count (8 bytes, then records: type, id, value).
#include <cmath>
#include <cstring>
#include <set>

#include "omi_Swapper.h"
#include "qvtdb_Check.h"
#include "qvtdb_Database.h"

namespace {

constexpr std::uint32_t kStringPoolMarker = 0xAAFFBBEEu;
constexpr std::uint32_t kMetadataPoolMarker = 0xFAAAEBBBu;
constexpr std::uint32_t kTableMarker = 0xAAAFBBBEu;
constexpr std::uint32_t kArrayMarker = 0xFFFAEEEBu;
constexpr std::uint32_t kTaggedStreamMarker = 0xFAAFEBBEu;
constexpr int kReferenceWidth = 8;
constexpr int kMostRecordProblems = 20;

std::int32_t Int32(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }

std::string Object(qvt_Handle handle) { return "object " + std::to_string(handle); }

bool IsFieldType(int type) {
  return type == qvt_TypeInt || type == qvt_TypeHandle || type == qvt_TypeFloat || type == qvt_TypeDouble ||
         type == qvt_TypeString;
}

int FieldWidth(int type) { return type == qvt_TypeInt || type == qvt_TypeFloat ? 4 : 8; }

}  // namespace

// The walks read a few bytes at a time, in order: they are served from a
// window of the space read in one go.
bool qvtdb_Checker::SpaceBytes(qvt_Handle handle, std::int64_t position, unsigned char* buffer,
                               std::int64_t count) const {
  const std::int64_t windowEnd = m_WindowStart + static_cast<std::int64_t>(m_Window.size());
  if (handle != m_WindowHandle || position < m_WindowStart || position + count > windowEnd) {
    if (count > kWindowBytes) return m_Layout->ReadSpace(handle, position, buffer, count) == count;
    m_Window.resize(kWindowBytes);
    const std::int64_t got = m_Layout->ReadSpace(handle, position, m_Window.data(), kWindowBytes);
    m_Window.resize(static_cast<std::size_t>(got));
    m_WindowHandle = handle;
    m_WindowStart = position;
    if (got < count) return false;
  }
  std::memcpy(buffer, m_Window.data() + (position - m_WindowStart), static_cast<std::size_t>(count));
  return true;
}

std::optional<std::string> qvtdb_Checker::PooledString(const unsigned char* reference) const {
  const std::uint64_t bits = omi_Bytes::GetBE64(reference);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  if (!std::isfinite(d) || d < 0 || d > 9.0e15) return std::nullopt;
  const std::int64_t offset = static_cast<std::int64_t>(d + 0.5);
  if (m_StringRecords.count(offset) == 0) return std::nullopt;
  unsigned char length[4];
  if (!SpaceBytes(1, offset, length, 4)) return std::nullopt;
  const std::int32_t n = Int32(length);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0 && !SpaceBytes(1, offset + 4, reinterpret_cast<unsigned char*>(&text[0]), n)) return std::nullopt;
  return text;
}

void qvtdb_Checker::CheckStringPool() {
  const std::int64_t length = m_Layout->SpaceLength(1);
  unsigned char word[4];
  if (!SpaceBytes(1, 0, word, 4)) {
    Problem("the string pool (object 1) is " + std::to_string(length) + " bytes long, too short for its marker");
    return;
  }
  if (omi_Bytes::GetBE32(word) != kStringPoolMarker) {
    Problem("the string pool (object 1) does not start with its marker");
    return;
  }
  std::int64_t position = 4;
  while (position < length) {
    if (!SpaceBytes(1, position, word, 4)) {
      Problem("the string pool ends inside the length of the record at offset " + std::to_string(position));
      return;
    }
    const std::int32_t n = Int32(word);
    if (n < 0) {
      Problem("the string pool record at offset " + std::to_string(position) + " has a negative length (" +
              std::to_string(n) + ")");
      return;
    }
    if (position + 4 + n > length) {
      Problem("the string pool record at offset " + std::to_string(position) + " (" + std::to_string(n) +
              " bytes) runs past the end of the pool (" + std::to_string(length) + " bytes)");
      return;
    }
    m_StringRecords.insert(position);
    position += 4 + ((static_cast<std::int64_t>(n) + 3) & ~std::int64_t{3});
  }
}

void qvtdb_Checker::CheckMetadataPool() {
  const std::int64_t length = m_Layout->SpaceLength(3);
  unsigned char word[12];
  if (!SpaceBytes(3, 0, word, 4)) {
    Problem("the metadata pool (object 3) is " + std::to_string(length) + " bytes long, too short for its marker");
    return;
  }
  if (omi_Bytes::GetBE32(word) != kMetadataPoolMarker) {
    Problem("the metadata pool (object 3) does not start with its marker");
    return;
  }
  std::map<std::string, std::int64_t> byName;
  std::int64_t position = 4;
  int found = 0;
  while (position < length) {
    const std::string where = "the metadata record at offset " + std::to_string(position);
    if (!SpaceBytes(3, position, word, 12)) {
      Problem("the metadata pool ends inside the head of its record at offset " + std::to_string(position));
      return;
    }
    const std::int32_t size = Int32(word);
    if (size < 12 || (size - 12) % 12 != 0) {
      Problem(where + " has a length of " + std::to_string(size) + ", which no class record has");
      return;
    }
    if (position + size > length) {
      Problem(where + " (" + std::to_string(size) + " bytes) runs past the end of the pool (" +
              std::to_string(length) + " bytes)");
      return;
    }
    Class record;
    const std::optional<std::string> name = PooledString(word + 4);
    if (!name) {
      Problem(where + " names its class by a reference that starts no string of the string pool");
      ++found;
    } else {
      record.name = *name;
    }
    std::vector<unsigned char> fields(static_cast<std::size_t>(size - 12));
    if (!fields.empty() && !SpaceBytes(3, position + 12, fields.data(), size - 12)) {
      Problem(where + " cannot be read whole");
      return;
    }
    std::set<std::string> fieldNames;
    int present = 0;
    for (std::size_t at = 0; at < fields.size(); at += 12) {
      Field field{Int32(&fields[at]), ""};
      const std::optional<std::string> fieldName = PooledString(&fields[at + 4]);
      const std::string which = "field " + std::to_string(at / 12) + " of class \"" + record.name + "\"";
      if (!IsFieldType(field.type)) {
        Problem(which + " has the type code " + std::to_string(field.type) + ", which is not a field type");
        ++found;
      }
      if (!fieldName) {
        Problem(which + " is named by a reference that starts no string of the string pool");
        ++found;
      } else {
        field.name = *fieldName;
        if (!fieldNames.insert(field.name).second) {
          Problem("class \"" + record.name + "\" has the field \"" + field.name + "\" twice");
          ++found;
        }
      }
      record.rowSize += FieldWidth(field.type);
      ++present;
      record.fields.push_back(field);
    }
    record.rowSize += 4 * ((present + 31) / 32);
    if (name && !byName.emplace(record.name, position).second) {
      Problem("the class \"" + record.name + "\" is stored twice, at offsets " + std::to_string(byName[record.name]) +
              " and " + std::to_string(position) + " of the metadata pool");
      ++found;
    }
    m_Classes.emplace(position, record);
    position += size;
    if (found >= kMostRecordProblems) {
      Problem("the metadata pool has more problems; the rest is not looked at");
      return;
    }
  }
}

void qvtdb_Checker::CheckObject(qvt_Handle handle) {
  const std::int64_t length = m_Layout->SpaceLength(handle);
  unsigned char word[4];
  // Shorter than a marker: a plain space, as the library sees it too.
  if (!SpaceBytes(handle, 0, word, 4)) {
    ++m_Kinds["other space"];
    m_SoundObjects.insert(handle);
    return;
  }
  const std::size_t before = m_Problems.size();
  const std::uint32_t marker = omi_Bytes::GetBE32(word);
  if (marker == kTableMarker) {
    ++m_Kinds["table"];
    CheckTable(handle, length);
  } else if (marker == kArrayMarker) {
    ++m_Kinds["array"];
    CheckArray(handle, length);
  } else if (marker == kTaggedStreamMarker) {
    ++m_Kinds["tagged stream"];
    CheckTaggedStream(handle, length);
  } else {
    ++m_Kinds["other space"];
  }
  if (m_Problems.size() == before) m_SoundObjects.insert(handle);
}

void qvtdb_Checker::CheckTable(qvt_Handle handle, std::int64_t length) {
  unsigned char head[12];
  if (!SpaceBytes(handle, 0, head, 12)) {
    Problem(Object(handle) + " is a table of " + std::to_string(length) + " bytes, too short for its header");
    return;
  }
  const std::int64_t record = Int32(head + 8);
  const auto found = m_Classes.find(record);
  if (found == m_Classes.end()) {
    Problem(Object(handle) + " is a table whose class record would be at offset " + std::to_string(record) +
            " of the metadata pool, where no record starts");
    return;
  }
  const std::int64_t rowSize = found->second.rowSize;
  const std::int64_t data = length - 12;
  if (rowSize == 0) {
    if (data > 0) {
      Problem(Object(handle) + " is a table of class \"" + found->second.name + "\", which has no fields, yet holds " +
              std::to_string(data) + " bytes of rows");
    }
  } else if (data % rowSize != 0) {
    Problem(Object(handle) + " is a table of class \"" + found->second.name + "\" whose " + std::to_string(data) +
            " bytes of rows are not a whole number of " + std::to_string(rowSize) + "-byte rows");
  }
}

void qvtdb_Checker::CheckArray(qvt_Handle handle, std::int64_t length) {
  unsigned char head[16];
  if (!SpaceBytes(handle, 0, head, 16)) {
    Problem(Object(handle) + " is an array of " + std::to_string(length) + " bytes, too short for its header");
    return;
  }
  const std::int32_t type = Int32(head + 8);
  const std::int32_t perRow = Int32(head + 12);
  if (type != qvt_TypeInt && type != qvt_TypeFloat && type != qvt_TypeDouble && type != qvt_TypeString) {
    Problem(Object(handle) + " is an array whose element type code " + std::to_string(type) +
            " is not one of int, float, double and string");
    return;
  }
  if (perRow < 1) {
    Problem(Object(handle) + " is an array with " + std::to_string(perRow) + " values per row");
    return;
  }
  const std::int64_t rowSize = static_cast<std::int64_t>(perRow) * FieldWidth(type);
  if ((length - 16) % rowSize != 0) {
    Problem(Object(handle) + " is a " + qvtdb_ObjectKind(type) + " whose " + std::to_string(length - 16) +
            " bytes of rows are not a whole number of " + std::to_string(rowSize) + "-byte rows");
  }
}

void qvtdb_Checker::CheckTaggedStream(qvt_Handle handle, std::int64_t length) {
  if (length < 8) {
    Problem(Object(handle) + " is a tagged stream of " + std::to_string(length) +
            " bytes, too short for its header");
    return;
  }
  std::int64_t position = 8;
  std::int64_t record = 0;
  unsigned char head[12];
  while (position < length) {
    const std::string where = Object(handle) + " is a tagged stream whose record " + std::to_string(record) +
                              " at offset " + std::to_string(position);
    if (!SpaceBytes(handle, position, head, 8)) {
      Problem(where + " is cut off inside its type and identifier");
      return;
    }
    const std::int32_t type = Int32(head);
    std::int64_t width;
    switch (type) {
      case qvt_TypeInt:
      case qvt_TypeFloat:
        width = 4;
        break;
      case qvt_TypeHandle:
      case qvt_TypeDouble:
      case qvt_TypeString:
        width = kReferenceWidth;
        break;
      case qvt_TypeFixedString: {
        if (!SpaceBytes(handle, position + 8, head + 8, 4)) {
          Problem(where + " is cut off inside the width of its text");
          return;
        }
        const std::int32_t textWidth = Int32(head + 8);
        if (textWidth < 0 || textWidth % 4 != 0) {
          Problem(where + " gives its text a width of " + std::to_string(textWidth) + " bytes");
          return;
        }
        width = 4 + static_cast<std::int64_t>(textWidth);
        break;
      }
      default:
        Problem(where + " has the type code " + std::to_string(type) + ", which no record has");
        return;
    }
    if (position + 8 + width > length) {
      Problem(where + " runs past the end of the stream (" + std::to_string(length) + " bytes)");
      return;
    }
    if (type == qvt_TypeString) {
      unsigned char reference[kReferenceWidth];
      if (!SpaceBytes(handle, position + 8, reference, kReferenceWidth) || !PooledString(reference)) {
        Problem(where + " refers to a string that the string pool does not hold");
        return;
      }
    }
    position += 8 + width;
    ++record;
  }
}
