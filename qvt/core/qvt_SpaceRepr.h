// A space: a growable byte stream named by a handle, the storage of every
// object in a database. Pools, tables, arrays and tagged streams see it as a
// typed stream with pooled strings (qvt_IOS) plus the three operations below.
#ifndef QVT_IMPL_QVT_SPACEREPR_H
#define QVT_IMPL_QVT_SPACEREPR_H

#include "qvt_Handle.h"
#include "qvt_IOS.h"

class qvt_SpaceRepr : public qvt_IOS {
 public:
  using qvt_IOS::qvt_IOS;
  ~qvt_SpaceRepr() override = default;

  // The space's own handle (the head of its chain of extents).
  virtual qvt_Handle Handle() = 0;
  // Bytes reserved for the space: the sum of its extents' allocations.
  virtual utl_FileOffset Allocation() = 0;
  // Cuts the space's length to newLength (a longer one changes nothing) and
  // seeks to 0. Every extent and its allocation is kept for later writes.
  virtual void Truncate(utl_FileOffset newLength) = 0;
};

#endif  // QVT_IMPL_QVT_SPACEREPR_H
