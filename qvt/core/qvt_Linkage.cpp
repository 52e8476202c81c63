// Encoding, decoding and checking of linkage blocks, the walk along their
// chain, and the 64-bit file quantities stored as doubles.
#include "qvt_Linkage.h"

#include <cmath>
#include <iterator>
#include <map>
#include <string>

#include "atr_translate.h"
#include "qvt_DatabaseReprMessages.h"
#include "qvt_FileRepr.h"
#include "qvt_Problems.h"

namespace {

void PutInt(unsigned char* bytes, std::int32_t value, const omi_Swapper& swapper) {
  omi_SwapperGuts::ExternalizeArray(swapper.MustSwap(), &value, bytes, 1, 4);
}

std::int32_t GetInt(const unsigned char* bytes, const omi_Swapper& swapper) {
  std::int32_t value;
  omi_SwapperGuts::InternalizeArray(swapper.MustSwap(), bytes, &value, 1, 4);
  return value;
}

constexpr const char* kNotWhole =
    ": its linkage entry holds a size or offset that is not a whole file quantity";

// True for a stored value below 0 that still reads as the quantity 0.
bool ReadsAsZeroButNegative(const unsigned char* bytes, const omi_Swapper& swapper) {
  double value;
  omi_SwapperGuts::InternalizeArray(swapper.MustSwap(), bytes, &value, 1, 8);
  return value < 0.0;
}

std::string HandleName(qvt_Handle handle) { return "handle " + std::to_string(handle); }

std::string Range(utl_FileOffset start, utl_FileOffset bytes) {
  return "offsets " + std::to_string(start) + " to " + std::to_string(start + bytes - 1);
}

int ReadFully(qvt_FileRepr& file, char* bytes, int count) {
  int got = 0;
  while (got < count) {
    const int n = file.Read(bytes + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
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
  if (rounded < 0.0 || rounded > qvt_FileLayout::kLargestQuantity) return false;
  *offset = static_cast<utl_FileOffset>(rounded);
  return true;
}

qvt_LinkageBlock::qvt_LinkageBlock(utl_FileOffset fileOffset) : m_FileOffset(fileOffset) {}

void qvt_LinkageBlock::Decode(const unsigned char* bytes, const omi_Swapper& swapper, std::uint32_t index,
                              utl_FileOffset fileLength, const cow_String& corrupt, qvt_Problems* problems) {
  m_Dirty = false;
  m_Used = qvt_LinkageSlots;
  int firstFree = 0;  // of the entries read whole, for telling the ones in use behind it
  for (int i = 0; i < qvt_LinkageSlots; ++i) {
    const unsigned char* p = bytes + i * qvt_LinkageEntryBytes;
    qvt_LinkageEntry& e = m_Entries[i];
    e.m_Decoded = qvt_DecodeFileOffset(p + qvt_LinkageAllocationOffset, swapper, &e.m_Allocation) &&
                  qvt_DecodeFileOffset(p + qvt_LinkageLengthOffset, swapper, &e.m_Length) &&
                  qvt_DecodeFileOffset(p + qvt_LinkageLocationOffset, swapper, &e.m_Location);
    e.m_Next = static_cast<qvt_Handle>(GetInt(p + qvt_LinkageNextOffset, swapper));
    e.m_Flag = 0;
    if (i == 0) continue;  // the link to the next block: the walk checks it
    const qvt_Handle handle = qvt_MakeHandle(index, i);
    const auto report = [problems, handle](const std::string& what, const cow_String& refusal) {
      problems->Add(HandleName(handle) + what, refusal, handle);
    };
    if (!e.m_Decoded) {
      report(kNotWhole, corrupt);
      continue;
    }
    // A value just below 0 reads as 0 and is judged as such; a checker is
    // told it is no quantity a writer stores, and the entry is not used.
    if (ReadsAsZeroButNegative(p + qvt_LinkageAllocationOffset, swapper) ||
        ReadsAsZeroButNegative(p + qvt_LinkageLengthOffset, swapper) ||
        ReadsAsZeroButNegative(p + qvt_LinkageLocationOffset, swapper)) {
      const bool refused =
          e.m_Location != qvt_LocationFree &&
          (e.m_Length > e.m_Allocation ||
           (e.m_Location < qvt_LocationPlaced && (e.m_Location > qvt_LocationTaken || e.m_Allocation != 0)));
      report(kNotWhole, refused ? corrupt : cow_String());
      e.m_Decoded = false;
      if (e.m_Location == qvt_LocationFree && m_Used == qvt_LinkageSlots) m_Used = i;
      continue;
    }
    const bool claimsBytes = e.m_Allocation != 0 || e.m_Length != 0;
    if (e.m_Location == qvt_LocationFree) {
      // Free whatever its other words hold (other programs leave them set):
      // they mean nothing, so nothing reads them, and the slot is handed out
      // clean.
      e.m_Allocation = 0;
      e.m_Length = 0;
      e.m_Next = 0;
      if (m_Used == qvt_LinkageSlots) m_Used = i;
      if (firstFree == 0) firstFree = i;
      continue;
    }
    if (firstFree != 0) {
      report(" is in use after the free " + HandleName(qvt_MakeHandle(index, firstFree)) +
                 ", which a writer would hand out again",
             cow_String());
    }
    if (e.m_Location == qvt_LocationTaken) {
      if (claimsBytes) report(" claims bytes but has no place in the file", corrupt);
    } else if (e.m_Location < qvt_LocationPlaced) {
      report(": its extent is placed at offset " + std::to_string(e.m_Location) + ", inside the header",
             corrupt);
    } else if (e.m_Location + e.m_Allocation > fileLength) {
      report(": its extent at " + Range(e.m_Location, e.m_Allocation) + " runs past the end of the file (" +
                 std::to_string(fileLength) + " bytes)",
             cow_String());
    }
    if (e.m_Length > e.m_Allocation) {
      report(": its extent uses " + std::to_string(e.m_Length) + " bytes of only " +
                 std::to_string(e.m_Allocation) + " reserved",
             corrupt);
    }
  }
}

void qvt_LinkageBlock::Encode(unsigned char* bytes, const omi_Swapper& swapper) const {
  for (int i = 0; i < qvt_LinkageSlots; ++i) {
    unsigned char* p = bytes + i * qvt_LinkageEntryBytes;
    const qvt_LinkageEntry& e = m_Entries[i];
    qvt_EncodeFileOffset(p + qvt_LinkageAllocationOffset, i == 0 ? 0 : e.m_Allocation, swapper);
    qvt_EncodeFileOffset(p + qvt_LinkageLengthOffset, i == 0 ? 0 : e.m_Length, swapper);
    qvt_EncodeFileOffset(p + qvt_LinkageLocationOffset, e.m_Location, swapper);
    PutInt(p + qvt_LinkageNextOffset, static_cast<std::int32_t>(e.m_Next), swapper);
  }
}

bool qvt_ReadLinkage(qvt_FileRepr& file, utl_FileOffset fileLength, qvt_LinkageBlocks* blocks,
                     qvt_Problems* problems) {
  const cow_String corrupt = atr_Format(qvt_CoreMessages::kCorrupt, file.FileName());
  std::vector<unsigned char> bytes(qvt_LinkageBlockBytes);
  // Blocks read so far by offset, for refusing a chain that loops back or
  // overlaps itself.
  std::map<utl_FileOffset, std::size_t> placed;
  utl_FileOffset offset = qvt_LinkageFirstBlock;
  for (;;) {
    const std::size_t index = blocks->size();
    const std::string name = "linkage block " + std::to_string(index);
    const std::string at = name + " at offset " + std::to_string(offset);
    if (offset < qvt_LinkageFirstBlock || offset > fileLength - qvt_LinkageBlockBytes) {
      problems->Add(at + " lies outside the file (" + std::to_string(fileLength) + " bytes)", corrupt);
      return false;
    }
    const auto after = placed.lower_bound(offset);
    if (after != placed.end() && after->first == offset) {
      problems->Add("the chain of linkage blocks loops: " + name + " would be the block at offset " +
                        std::to_string(offset) + " again",
                    corrupt);
      return false;
    }
    const auto before = after == placed.begin() ? placed.end() : std::prev(after);
    const auto overlapped = after != placed.end() && after->first < offset + qvt_LinkageBlockBytes ? after
                            : before != placed.end() && before->first + qvt_LinkageBlockBytes > offset
                                ? before
                                : placed.end();
    if (overlapped != placed.end()) {
      problems->Add(at + " overlaps linkage block " + std::to_string(overlapped->second), corrupt);
      return false;
    }
    if (index >= qvt_LinkageMaxBlocks) {
      problems->Add("the linkage has more blocks than handles can name", corrupt);
      return false;
    }
    file.Seek(offset);
    if (ReadFully(file, reinterpret_cast<char*>(bytes.data()), qvt_LinkageBlockBytes) !=
        qvt_LinkageBlockBytes) {
      problems->Add(at + " cannot be read whole", corrupt);
      return false;
    }
    placed.emplace(offset, index);
    auto block = std::make_unique<qvt_LinkageBlock>(offset);
    block->Decode(bytes.data(), file.Swapper(), static_cast<std::uint32_t>(index), fileLength, corrupt,
                  problems);
    const qvt_LinkageEntry link = block->m_Entries[0];
    blocks->push_back(std::move(block));
    if (!link.m_Decoded) {
      problems->Add(name + " does not hold a valid offset for the next block", corrupt);
      return false;
    }
    if (link.m_Location == 0) return true;
    const qvt_Handle expected = qvt_MakeHandle(static_cast<std::uint32_t>(index + 1), 0);
    if (link.m_Next != expected) {
      problems->Add(name + " links to the next block as handle " + std::to_string(link.m_Next) +
                    " instead of " + std::to_string(expected));
    }
    offset = link.m_Location;
  }
}
