// Decoding and checking the header of a database file.
#include "qvt_DatabaseHeader.h"

#include <algorithm>
#include <cstring>

#include "atr_translate.h"
#include "omi_Swapper.h"
#include "qvt_DatabaseReprMessages.h"
#include "qvt_FileLayout.h"
#include "qvt_IOMessages.h"
#include "qvt_Problems.h"

namespace L = qvt_FileLayout;
namespace M = qvt_CoreMessages;

namespace {

std::int32_t Int32At(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }

// A zero-padded text of a fixed width: up to its first zero byte.
std::string FixedText(const unsigned char* p, std::size_t width) {
  return std::string(p, std::find(p, p + width, 0));
}

enum class Lead { kSound, kOldFormat, kNoSignature, kOtherTypeCode };

// Judges the first 8 bytes of a file, zero padded when it is shorter. The
// stored type code must be exactly the first min(4, length) characters of
// the wanted one.
Lead JudgeLead(const unsigned char* bytes, int count, const cow_String& typeCode, std::string* storedCode) {
  unsigned char lead[L::kVersionOffset] = {};
  std::memcpy(lead, bytes, static_cast<std::size_t>(std::clamp<int>(count, 0, L::kVersionOffset)));
  *storedCode = FixedText(lead + L::kTypeCodeOffset, L::kTypeCodeWidth);
  if (std::memcmp(lead, L::kOldSignature, L::kOldSignatureBytes) == 0) return Lead::kOldFormat;
  if (std::memcmp(lead, L::kSignature, L::kSignatureBytes) != 0) return Lead::kNoSignature;
  if (!typeCode.empty() && *storedCode != typeCode.substr(0, L::kTypeCodeWidth)) return Lead::kOtherTypeCode;
  return Lead::kSound;
}

}  // namespace

bool qvt_DatabaseHeader::IsMagic(const unsigned char* bytes, int count, const cow_String& typeCode) {
  std::string storedCode;
  return JudgeLead(bytes, count, typeCode, &storedCode) == Lead::kSound;
}

qvt_DatabaseHeader qvt_DatabaseHeader::Decode(const unsigned char* bytes, int count,
                                              const cow_String& fileName, const cow_String& typeCode,
                                              qvt_Problems* problems) {
  qvt_DatabaseHeader header;
  const std::string tooShort = "the file is " + std::to_string(count) + " bytes long, too short for the " +
                               std::to_string(L::kHeaderBytes) + "-byte header";
  switch (JudgeLead(bytes, count, typeCode, &header.typeCode)) {
    case Lead::kOldFormat:
      problems->Add(
          "the header is that of an old database format (\"" + std::string(L::kOldSignature) + "\")",
          atr_Format(M::kOldFormat, fileName));
      break;
    case Lead::kNoSignature:
      problems->Add("the header does not start with the signature \"" + std::string(L::kSignature) + "\"",
                    atr_Format(M::kNotADatabase, fileName));
      break;
    case Lead::kOtherTypeCode:
      problems->Add(
          "the header's type code is \"" + header.typeCode + "\", not the \"" + typeCode + "\" asked for",
          atr_Format(M::kWrongMagic, fileName));
      break;
    case Lead::kSound:
      break;
  }

  if (count < L::kVersionOffset + 4) {
    problems->Add(tooShort, qvt_IOMessages::kUnexpectedEof);
    return header;
  }
  header.version = Int32At(bytes + L::kVersionOffset);
  if (header.version < L::kOldestVersion) {
    problems->Add("the header's version is " + std::to_string(header.version) +
                      ", below the oldest readable, " + std::to_string(L::kOldestVersion),
                  atr_Format(M::kWrongVersion, header.version, L::kVersion));
  }
  if (count < L::kFlushCountOffset + 4) {
    problems->Add(tooShort, qvt_IOMessages::kUnexpectedEof);
    return header;
  }
  header.flushCount = Int32At(bytes + L::kFlushCountOffset);
  // Past the flush count Open reads nothing more of the header itself: the
  // size record is the file's, and a file too short for the linkage is
  // refused when the linkage is read.
  if (count < L::kHeaderBytes) {
    problems->Add(tooShort);
    return header;
  }
  header.complete = true;
  header.description = FixedText(bytes + L::kDescriptionOffset, L::kDescriptionWidth);
  header.reserved = Int32At(bytes + L::kReservedOffset);
  header.creationTime = Int32At(bytes + L::kCreationTimeOffset);
  if (header.reserved != 0) {
    problems->Add("the header's reserved word at offset " + std::to_string(L::kReservedOffset) + " holds " +
                  std::to_string(header.reserved) + " instead of 0");
  }
  if (header.flushCount < 0) {
    problems->Add("the header's flush count is negative (" + std::to_string(header.flushCount) + ")");
  }
  return header;
}
