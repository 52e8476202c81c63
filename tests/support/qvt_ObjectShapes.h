// Table classes from a list of fields or as raw records, and spaces written
// word by word to stand for stored objects, whole or damaged.
#ifndef QVT_TESTS_SUPPORT_QVT_OBJECTSHAPES_H
#define QVT_TESTS_SUPPORT_QVT_OBJECTSHAPES_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qvt_Database.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TableMetadata.h"

namespace qvt_test {

// The first word of the space of each object kind.
inline constexpr int kTableMagic = static_cast<int>(0xAAAFBBBEu);
inline constexpr int kArrayMagic = static_cast<int>(0xFFFAEEEBu);
inline constexpr int kStreamMagic = static_cast<int>(0xFAAFEBBEu);

// A class whose fields (name, type) are defined, and so indexed, in order.
inline qvt_TableMetadata Shape(const std::string& name,
                               const std::vector<std::pair<std::string, int>>& fields, int version = 1) {
  using Define = int (qvt_TableMetadata::*)(const cow_String&);
  static const std::map<int, Define> kDefine = {{qvt_TypeInt, &qvt_TableMetadata::DefineIntField},
                                                {qvt_TypeHandle, &qvt_TableMetadata::DefineHandleField},
                                                {qvt_TypeFloat, &qvt_TableMetadata::DefineFloatField},
                                                {qvt_TypeDouble, &qvt_TableMetadata::DefineDoubleField},
                                                {qvt_TypeString, &qvt_TableMetadata::DefineStringField}};
  qvt_TableMetadata md(name, version);
  for (const auto& f : fields) (md.*kDefine.at(f.second))(f.first);
  return md;
}

// A raw class record, as a damaged or foreign file might hold it, at the
// start of stream, which is left there: length, name, (type, name) pairs.
inline void StoreRawRecord(MemoryIOS& stream, const std::string& name, int length,
                           const std::vector<std::pair<int, std::string>>& fields) {
  stream.Bytes().clear();
  stream.Seek(0);
  stream.WriteInt(length);
  stream.WriteString(name);
  for (const auto& f : fields) {
    stream.WriteInt(f.first);
    stream.WriteString(f.second);
  }
  stream.Seek(0);
}

// The handle of a new space holding words, big-endian, then bytes.
inline qvt_Handle SpaceOfWords(qvt_Database& db, const std::vector<int>& words,
                               const std::vector<unsigned char>& bytes = {}) {
  qvt_Space space = db.Space(-1);
  for (int w : words) space.WriteInt(w);
  if (!bytes.empty())
    space.Write(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
  return space.Handle();
}

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_OBJECTSHAPES_H
