// The typed stream every file, space and I/O buffer implements: raw
// positioned bytes plus ints, floats, doubles and fixed strings converted to
// the file's one external byte order (big-endian for database files).
#ifndef QVT_IMPL_QVT_IO_H
#define QVT_IMPL_QVT_IO_H

#include "cow_String.h"
#include "omi_Swapper.h"
#include "utl_FileOffset.h"

class qvt_IO {
 public:
  explicit qvt_IO(const omi_Swapper& swapper = omi_Swapper(EndianBig)) : m_Swapper(swapper) {}
  virtual ~qvt_IO() = default;
  qvt_IO(const qvt_IO&) = delete;
  qvt_IO& operator=(const qvt_IO&) = delete;

  virtual bool ReadOnly() const = 0;
  virtual utl_FileOffset Length() = 0;
  virtual void Seek(utl_FileOffset offset) = 0;
  virtual utl_FileOffset Location() = 0;
  // Where the next byte written lands in the medium beneath: the file
  // offset, for a space laid out in a file. A hint for cutting large
  // transfers into steps; a stream with no such medium answers Location().
  virtual utl_FileOffset MediumLocation() { return Location(); }
  virtual void Flush() = 0;
  // Prepares the stream to grow by increment more bytes. Files answer
  // whether the medium grew; other streams answer true.
  virtual bool Extend(utl_FileOffset increment) = 0;
  // Return the bytes moved; a short Read is the end of the stream.
  virtual int Read(char* buffer, int count) = 0;
  virtual int Write(const char* buffer, int count) = 0;

  // Typed arrays: a null array throws "***ERROR: Invalid array pointer.", a
  // count below 1 "***ERROR: Invalid length when reading array.". Reads
  // return the whole elements read; writes throw "***ERROR: Write operation
  // failed." on a short write.
  virtual int ReadIntArray(int* values, int count);
  virtual int ReadFloatArray(float* values, int count);
  virtual int ReadDoubleArray(double* values, int count);
  virtual void WriteIntArray(const int* values, int count);
  virtual void WriteFloatArray(const float* values, int count);
  virtual void WriteDoubleArray(const double* values, int count);
  // Scalars throw "***ERROR: Unexpected End Of File." when too few bytes.
  virtual int ReadInt();
  virtual float ReadFloat();
  virtual double ReadDouble();
  // width bytes, zero padded; a width below 1 reads nothing and gives "".
  virtual cow_String ReadFixedString(int width);
  virtual void WriteInt(int value);
  virtual void WriteFloat(float value);
  virtual void WriteDouble(double value);
  // Cut at width bytes, padded with zeros; the byte count is not checked.
  virtual void WriteFixedString(const cow_String& value, int width);

  const omi_Swapper& Swapper() const { return m_Swapper; }
  bool MustSwap() const { return m_Swapper.MustSwap(); }

 private:
  template <class T>
  int ReadArray(T* values, int count);
  template <class T>
  void WriteArray(const T* values, int count);

  omi_Swapper m_Swapper;
};

#endif  // QVT_IMPL_QVT_IO_H
