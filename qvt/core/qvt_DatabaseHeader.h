// The header of a database file as stored (layout in qvt_FileLayout.h):
// decoded and checked in one place, for the database's Open and for qvtdb.
#ifndef QVT_IMPL_QVT_DATABASEHEADER_H
#define QVT_IMPL_QVT_DATABASEHEADER_H

#include <cstdint>
#include <string>

#include "cow_String.h"

class qvt_Problems;

struct qvt_DatabaseHeader {
  // Decodes the first count bytes of a file (count at most the header's
  // size) and checks them in the order the database's Open does, adding
  // what does not hold to problems with Open's refusal for it:
  //   - the signature (the old format's first), then the type code when
  //     typeCode is not empty (the first min(4, length) characters of it);
  //   - the version, 11 or above; a file that ends before the version or
  //     before the flush count is refused as ending unexpectedly;
  //   - a reserved word other than 0 and a negative flush count, which no
  //     reader refuses.
  // A header shorter than its size is not complete: the problem saying so
  // is the last one added and the words behind it are not looked at.
  // fileName fills the refusals.
  static qvt_DatabaseHeader Decode(const unsigned char* bytes, int count, const cow_String& fileName,
                                   const cow_String& typeCode, qvt_Problems* problems);

  // True when the first count bytes of a file start with the signature and
  // the type code matches as in Decode (always, for an empty typeCode).
  static bool IsMagic(const unsigned char* bytes, int count, const cow_String& typeCode);

  bool complete = false;
  std::string typeCode;  // up to its first zero byte
  std::int32_t version = 0;
  std::string description;
  std::int32_t reserved = 0;
  std::int32_t flushCount = 0;
  std::int32_t creationTime = 0;
};

#endif  // QVT_IMPL_QVT_DATABASEHEADER_H
