// The object linkage: blocks of 512 entries that map every handle to the
// chain of extents holding its space. Block 0 sits at offset 1024, right
// behind the header; later blocks sit wherever the file ended when they were
// needed. The database file class keeps the blocks; spaces walk them.
#ifndef QVT_IMPL_QVT_LINKAGE_H
#define QVT_IMPL_QVT_LINKAGE_H

#include <cstdint>

#include "omi_Swapper.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

// A handle is block index x 512 + slot; slot 0 of a block is its link to the
// next block and never an object.
constexpr int qvt_LinkageSlots = 512;
constexpr int qvt_LinkageEntryBytes = 28;
constexpr int qvt_LinkageBlockBytes = qvt_LinkageSlots * qvt_LinkageEntryBytes;  // 14336
constexpr utl_FileOffset qvt_LinkageFirstBlock = 1024;
// Highest block index a 32-bit handle can name.
constexpr std::uint32_t qvt_LinkageMaxBlocks = 1u << 23;

// Entry locations below this hold no extent: 0 marks a free slot, 1 a slot
// handed out whose extent has not been placed yet.
constexpr utl_FileOffset qvt_LocationFree = 0;
constexpr utl_FileOffset qvt_LocationTaken = 1;
constexpr utl_FileOffset qvt_LocationPlaced = 1024;

inline std::uint32_t qvt_HandleBlock(qvt_Handle handle) { return handle >> 9; }
inline int qvt_HandleSlot(qvt_Handle handle) { return static_cast<int>(handle & 511u); }
inline qvt_Handle qvt_MakeHandle(std::uint32_t block, int slot) {
  return static_cast<qvt_Handle>(block << 9 | static_cast<std::uint32_t>(slot));
}

// 64-bit file quantities (allocations, lengths, locations, string
// references, the size record) are stored as IEEE 754 doubles holding the
// integer value, 8 bytes in the file's external order. Reading takes the
// double plus 0.5, truncated. Decoding answers false for a value that is not
// finite, negative or beyond 2^53 (a damaged file), and then leaves *offset
// untouched.
void qvt_EncodeFileOffset(unsigned char* bytes, utl_FileOffset offset, const omi_Swapper& swapper);
bool qvt_DecodeFileOffset(const unsigned char* bytes, const omi_Swapper& swapper, utl_FileOffset* offset);

// One slot of a block: one extent of a space.
struct qvt_LinkageEntry {
  utl_FileOffset m_Allocation = 0;  // bytes reserved for the extent
  utl_FileOffset m_Length = 0;      // bytes of the extent in use
  utl_FileOffset m_Location = 0;    // file offset of its first byte, or 0 / 1 (above)
  qvt_Handle m_Next = 0;            // next extent of the same space, 0 for the last
  unsigned char m_Flag = 0;         // scratch mark of the object location report
};

// On disk a block is 512 entries of 28 bytes, external byte order:
//
//   OFFSET SIZE CONTENT (per entry)
//        0    8 allocation (double)
//        8    8 length     (double)
//       16    8 location   (double)
//       24    4 next       (int)
//
// Entry 0 is the block's link: its location is the file offset of the next
// block (0 in the last one) and its next the handle of that block's slot 0;
// its allocation and length are written as 0.
class qvt_LinkageBlock {
 public:
  // A new block: every entry zero, used count 1, dirty.
  explicit qvt_LinkageBlock(utl_FileOffset fileOffset);

  // Fills the entries from qvt_LinkageBlockBytes bytes read at the block's
  // offset; the block is then clean and its used count is the first free
  // slot (512 when all are taken). Answers false when a field is out of its
  // bounds: a quantity that does not decode, a length beyond its
  // allocation, a location between 2 and 1023, or an unplaced entry that
  // claims bytes. The block's entries are then unspecified.
  bool Decode(const unsigned char* bytes, const omi_Swapper& swapper);
  // Writes the entries, entry 0 with allocation and length 0.
  void Encode(unsigned char* bytes, const omi_Swapper& swapper) const;

  utl_FileOffset NextBlockOffset() const { return m_Entries[0].m_Location; }

  utl_FileOffset m_FileOffset;
  bool m_Dirty = true;
  int m_Used = 1;  // next slot to hand out, 1 to 512
  qvt_LinkageEntry m_Entries[qvt_LinkageSlots];
};

#endif  // QVT_IMPL_QVT_LINKAGE_H
