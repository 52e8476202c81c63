// The object linkage: blocks of 512 entries that map every handle to the
// chain of extents holding its space. Block 0 sits at offset 1024, right
// behind the header; later blocks sit wherever the file ended when they were
// needed. The database file class keeps the blocks; spaces walk them.
#ifndef QVT_IMPL_QVT_LINKAGE_H
#define QVT_IMPL_QVT_LINKAGE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "cow_String.h"
#include "omi_Swapper.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

class qvt_FileRepr;
class qvt_Problems;

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
  bool m_Decoded = true;            // false: a stored quantity was no whole file quantity (a
                                    // value just below 0 reads as 0 but is marked so too)
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
  // offset, index being the block's place in the chain; the block is then
  // clean and its used count is the first free slot (512 when all are
  // taken). Every entry is decoded and checked, and what does not hold is
  // added to problems. The database refuses the file, with corrupt, for a
  // quantity that does not decode (the entry is then marked undecoded), a
  // length beyond its allocation, a location between 2 and 1023, or an
  // unplaced entry that claims bytes; it reads on past an extent that runs
  // beyond fileLength, a free entry that only names a next extent, and an
  // entry in use behind a free one. Entry 0, the link, is the walk's to check.
  void Decode(const unsigned char* bytes, const omi_Swapper& swapper, std::uint32_t index,
              utl_FileOffset fileLength, const cow_String& corrupt, qvt_Problems* problems);
  // Writes the entries, entry 0 with allocation and length 0.
  void Encode(unsigned char* bytes, const omi_Swapper& swapper) const;

  utl_FileOffset NextBlockOffset() const { return m_Entries[0].m_Location; }

  utl_FileOffset m_FileOffset;
  bool m_Dirty = true;
  int m_Used = 1;  // next slot to hand out, 1 to 512
  qvt_LinkageEntry m_Entries[qvt_LinkageSlots];
};

using qvt_LinkageBlocks = std::vector<std::unique_ptr<qvt_LinkageBlock>>;

// Reads the chain of linkage blocks of file from block 0 on into blocks,
// which must be empty, decoding each (qvt_LinkageBlock::Decode). A block
// that lies outside the file, is met again or overlaps another, is one too
// many for a handle to name, cannot be read whole, or does not link to a
// valid offset ends the walk with a problem; the database refuses the file
// for each with its corrupt-file message. A link naming another handle
// than the next block's slot 0 is only reported. Blocks and extents are
// judged against fileLength; a reader passes the largest offset instead,
// as its file may have grown since it opened, and a block beyond the end
// then shows as one that cannot be read whole. Answers true when the chain
// was followed to its end.
bool qvt_ReadLinkage(qvt_FileRepr& file, utl_FileOffset fileLength, qvt_LinkageBlocks* blocks,
                     qvt_Problems* problems);

#endif  // QVT_IMPL_QVT_LINKAGE_H
