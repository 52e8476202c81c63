// A space read and written through a 2048-byte block buffer, for callers
// that move many small values. Copying a handle shares the buffer and the
// space. Written bytes reach the space at Flush, Seek elsewhere, a switch
// to reading, when the block fills, or when the last copy goes. Must be
// destroyed before the last qvt_Database handle of its database.
#ifndef QVT_INCLUDE_QVT_BUFFEREDSPACE_H
#define QVT_INCLUDE_QVT_BUFFEREDSPACE_H

#include "cow_CountedHld.h"
#include "qvt_Handle.h"
#include "qvt_Space.h"
#include "utl_FileOffset.h"

class qvt_IOBuffer;

class qvt_BufferedSpace {
 public:
  // Shares space; buffering starts at the space's current location.
  explicit qvt_BufferedSpace(const qvt_Space& space);
  qvt_BufferedSpace(const qvt_BufferedSpace& other);
  qvt_BufferedSpace& operator=(const qvt_BufferedSpace& other);
  ~qvt_BufferedSpace();

  qvt_Handle Handle();
  utl_FileOffset Allocation();
  bool ReadOnly() const;
  // Written bytes still in the block count.
  utl_FileOffset Length();
  void Seek(utl_FileOffset offset);
  utl_FileOffset Location();
  void Flush();
  void Extend(utl_FileOffset increment);
  // Fewer than count at the end of the space.
  int Read(char* buffer, int count);
  // THROWS "The output database was opened as read-only. Modification of
  // data is not permitted." on a read-only database.
  int Write(const char* buffer, int count);
  // Whole values in the file's byte order; fewer at the end of the space.
  int ReadIntArray(int* values, int count);
  int ReadFloatArray(float* values, int count);
  int ReadDoubleArray(double* values, int count);
  void WriteIntArray(const int* values, int count);
  void WriteFloatArray(const float* values, int count);
  void WriteDoubleArray(const double* values, int count);

 private:
  qvt_Space m_Space;
  cow_CountedHld<qvt_IOBuffer> m_Buffer;  // after the space: goes first
};

#endif  // QVT_INCLUDE_QVT_BUFFEREDSPACE_H
