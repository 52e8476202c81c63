// The sizes, offsets and markers of the database core's on-disk structures,
// defined here and nowhere else: the object linkage, the handles of the two
// pools and the pools' markers. The header in front of them is laid out in
// qvt_FileLayout.h (file layer); tables, arrays and tagged streams keep
// theirs beside their code (qvt_TableLayout.h, qvt_ArrayLayout.h,
// qvt_TaggedStreamLayout.h).
#ifndef QVT_IMPL_QVT_DATABASELAYOUT_H
#define QVT_IMPL_QVT_DATABASELAYOUT_H

#include <cstdint>

#include "qvt_FileLayout.h"
#include "qvt_Handle.h"
#include "utl_FileOffset.h"

// Linkage blocks: 512 entries of 28 bytes. A handle is block index x 512 +
// slot; slot 0 of a block is its link to the next block and never an object.
// Block 0 sits right behind the header.
constexpr int qvt_LinkageSlots = 512;
constexpr int qvt_LinkageEntryBytes = 28;
constexpr int qvt_LinkageBlockBytes = qvt_LinkageSlots * qvt_LinkageEntryBytes;  // 14336
constexpr utl_FileOffset qvt_LinkageFirstBlock = qvt_FileLayout::kHeaderBytes;
// Highest block index a 32-bit handle can name.
constexpr std::uint32_t qvt_LinkageMaxBlocks = 1u << 23;
// Fields of an entry, from its start.
constexpr int qvt_LinkageAllocationOffset = 0;
constexpr int qvt_LinkageLengthOffset = 8;
constexpr int qvt_LinkageLocationOffset = 16;
constexpr int qvt_LinkageNextOffset = 24;

// Entry locations below this hold no extent: 0 marks a free slot, 1 a slot
// handed out whose extent has not been placed yet.
constexpr utl_FileOffset qvt_LocationFree = 0;
constexpr utl_FileOffset qvt_LocationTaken = 1;
constexpr utl_FileOffset qvt_LocationPlaced = qvt_FileLayout::kHeaderBytes;

// A pooled-string reference: the offset of its record, as a file quantity
// (qvt_FileLayout::kLargestQuantity).
constexpr int qvt_ReferenceBytes = 8;

// The two pools, each a space that starts with its marker.
constexpr qvt_Handle qvt_StringPoolHandle = 1;
constexpr qvt_Handle qvt_ReservedHandle = 2;
constexpr qvt_Handle qvt_MetadataPoolHandle = 3;
constexpr int qvt_PoolMarkerBytes = 4;
constexpr int qvt_StringPoolMarker = static_cast<int>(0xAAFFBBEEu);
constexpr int qvt_MetadataPoolMarker = static_cast<int>(0xFAAAEBBBu);
// The first record of either pool, right behind the marker.
constexpr utl_FileOffset qvt_PoolFirstRecord = qvt_PoolMarkerBytes;

#endif  // QVT_IMPL_QVT_DATABASELAYOUT_H
