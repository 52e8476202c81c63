// Encoding of linkage blocks and of 64-bit file quantities stored as doubles.
#include "qvt_Linkage.h"

#include <cmath>

namespace {

// Largest integer a double holds exactly; nothing sound in a file is larger.
constexpr double kMaxExactDouble = 9007199254740992.0;  // 2^53

void PutInt(unsigned char* bytes, std::int32_t value, const omi_Swapper& swapper) {
  omi_SwapperGuts::ExternalizeArray(swapper.MustSwap(), &value, bytes, 1, 4);
}

std::int32_t GetInt(const unsigned char* bytes, const omi_Swapper& swapper) {
  std::int32_t value;
  omi_SwapperGuts::InternalizeArray(swapper.MustSwap(), bytes, &value, 1, 4);
  return value;
}

}  // namespace

void qvt_EncodeFileOffset(unsigned char* bytes, utl_FileOffset offset, const omi_Swapper& swapper) {
  const double value = static_cast<double>(offset);
  omi_SwapperGuts::ExternalizeArray(swapper.MustSwap(), &value, bytes, 1, 8);
}

bool qvt_DecodeFileOffset(const unsigned char* bytes, const omi_Swapper& swapper, utl_FileOffset* offset) {
  double value;
  omi_SwapperGuts::InternalizeArray(swapper.MustSwap(), bytes, &value, 1, 8);
  if (!std::isfinite(value)) return false;
  const double rounded = value + 0.5;
  // -0.5 < value rounds to 0; anything lower is no offset or length.
  if (rounded < 0.0 || rounded > kMaxExactDouble) return false;
  *offset = static_cast<utl_FileOffset>(rounded);
  return true;
}

qvt_LinkageBlock::qvt_LinkageBlock(utl_FileOffset fileOffset) : m_FileOffset(fileOffset) {}

bool qvt_LinkageBlock::Decode(const unsigned char* bytes, const omi_Swapper& swapper) {
  m_Dirty = false;
  m_Used = qvt_LinkageSlots;
  for (int i = 0; i < qvt_LinkageSlots; ++i) {
    const unsigned char* p = bytes + i * qvt_LinkageEntryBytes;
    qvt_LinkageEntry& e = m_Entries[i];
    if (!qvt_DecodeFileOffset(p, swapper, &e.m_Allocation) || !qvt_DecodeFileOffset(p + 8, swapper, &e.m_Length) ||
        !qvt_DecodeFileOffset(p + 16, swapper, &e.m_Location))
      return false;
    e.m_Next = static_cast<qvt_Handle>(GetInt(p + 24, swapper));
    e.m_Flag = 0;
    if (i == 0) {
      // The link to the next block: only its location is used.
      if (e.m_Location != 0 && e.m_Location < qvt_LinkageFirstBlock) return false;
      continue;
    }
    if (e.m_Length > e.m_Allocation) return false;
    if (e.m_Location < qvt_LocationPlaced) {
      if (e.m_Location > qvt_LocationTaken || e.m_Allocation != 0) return false;
    }
    if (e.m_Location == qvt_LocationFree && m_Used == qvt_LinkageSlots) m_Used = i;
  }
  return true;
}

void qvt_LinkageBlock::Encode(unsigned char* bytes, const omi_Swapper& swapper) const {
  for (int i = 0; i < qvt_LinkageSlots; ++i) {
    unsigned char* p = bytes + i * qvt_LinkageEntryBytes;
    const qvt_LinkageEntry& e = m_Entries[i];
    qvt_EncodeFileOffset(p, i == 0 ? 0 : e.m_Allocation, swapper);
    qvt_EncodeFileOffset(p + 8, i == 0 ? 0 : e.m_Length, swapper);
    qvt_EncodeFileOffset(p + 16, e.m_Location, swapper);
    PutInt(p + 24, static_cast<std::int32_t>(e.m_Next), swapper);
  }
}
