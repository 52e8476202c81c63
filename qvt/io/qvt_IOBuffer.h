// One block of memory between an object and its space: reads are served from
// the block, writes gathered in it, and the space sees only whole-block
// transfers. Typed values are converted in place between the block and the
// caller's arrays. Tables, arrays, tagged streams, the metadata pool and the
// buffered space read and write through one.
#ifndef QVT_IMPL_QVT_IOBUFFER_H
#define QVT_IMPL_QVT_IOBUFFER_H

#include <memory>

#include "qvt_IOS.h"

class qvt_IOBuffer : public qvt_IOS {
 public:
  static constexpr int kDefaultSize = 2048;

  // Buffers space (borrowed; it must outlive the buffer) in blocks of size
  // bytes (0 means 2048), starting at the space's current location. Copies
  // the space's byte order.
  qvt_IOBuffer(qvt_IOS& space, int size);
  // Writes pending bytes to the space; neither flushes nor releases it. A
  // failure is reported on standard error, never thrown.
  ~qvt_IOBuffer() override;

  bool ReadOnly() const override;
  // The larger of the location and the space's length (pending bytes count).
  utl_FileOffset Length() override;
  // Writes pending bytes first unless offset is the current location. The
  // space itself moves at the next transfer.
  void Seek(utl_FileOffset offset) override;
  utl_FileOffset Location() override;
  // Pending bytes to the space, then the space's Flush.
  void Flush() override;
  // Flush, seek the space to the buffer's location, and extend it.
  bool Extend(utl_FileOffset increment) override;
  // Fewer bytes than asked at the end of the space.
  int Read(char* buffer, int count) override;
  int Write(const char* buffer, int count) override;

  // Count below 1 delivers 0 without a message. Elements never straddle
  // blocks; a partial element at the end of the space is not delivered.
  int ReadIntArray(int* values, int count) override;
  int ReadFloatArray(float* values, int count) override;
  int ReadDoubleArray(double* values, int count) override;
  void WriteIntArray(const int* values, int count) override;
  void WriteFloatArray(const float* values, int count) override;
  void WriteDoubleArray(const double* values, int count) override;
  // The text up to its first zero byte; shorter at the end of the space,
  // with no message.
  cow_String ReadFixedString(int width) override;

  qvt_StringManager& StringManager() override;
  int ReadStringArray(cow_String* strings, int count) override;
  void WriteStringArray(const cow_String* strings, int count) override;

  // Transfer windows. Asks for count items of quantum bytes and answers
  // whether a window of at least one whole item was made; Window() and
  // WindowCount() then give where the items go and how many fit. A read
  // window holds loaded bytes; the caller of PrepWrite must fill every item
  // of the window. PrepWrite THROWS "qvt_IOBuffer::PrepWrite: Quantum is
  // too large for buffer." when one item exceeds the block.
  // A write of at least a block goes to the space directly, bypassing the
  // block, with the same bytes landing in the space.
  bool PrepRead(int quantum, int count);
  bool PrepWrite(int quantum, int count);
  char* Window() const { return m_Window; }
  int WindowCount() const { return m_WindowCount; }

  // Copies everything from other's location to the end of its space into
  // this buffer at its location.
  void Append(qvt_IOBuffer& other);

  int Size() const { return m_Size; }
  qvt_IOS& Space() const { return *m_Space; }

 private:
  enum Mode { kIdle = 0, kReading = 1, kWriting = 2 };

  void RequireWritable() const;
  void Fill();
  void Advance();
  void BeginWrite();
  void FlushWrite();
  void EndTransfer();
  template <class T>
  int ReadTyped(T* values, int count);
  template <class T>
  void WriteTyped(const T* values, int count, const char* failure);
  // Writes count units of width bytes straight to the space at the
  // buffer's location, converted through a scratch step where the byte
  // order needs it; the buffer is idle after.
  void WriteDirect(const void* values, int count, int width);

  qvt_IOS* m_Space;
  int m_Size;
  int m_Position = 0;
  int m_Valid = 0;
  utl_FileOffset m_Start = 0;
  std::unique_ptr<char[]> m_Block;
  // Converted bytes of a write larger than the block, made on first use.
  std::unique_ptr<char[]> m_DirectStep;
  char* m_Window = nullptr;
  int m_WindowCount = 0;
  Mode m_Mode = kIdle;
};

#endif  // QVT_IMPL_QVT_IOBUFFER_H
