// The typed operations of every stream, written once on top of the raw
// Read and Write: ints, floats and doubles converted to the file's external
// byte order, and fixed-width strings. Each array transfer makes one raw
// call through one scratch block.
#include "qvt_IO.h"

#include <cstring>

#include "qvt_IOMessages.h"
#include "qvt_IOScratch.h"

using namespace qvt_IOMessages;

template <class T>
int qvt_IO::ReadArray(T* values, int count) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "elements are 32- or 64-bit units");
  const int byteCount = CheckedByteCount(values, count, sizeof(T));
  qvt_IOScratch scratch(static_cast<std::size_t>(byteCount));
  const int bytesRead = Read(scratch.Data(), byteCount);
  CheckReadCount(bytesRead, byteCount);
  // A partial last element is dropped: the caller's element stays untouched.
  const int elements = bytesRead / static_cast<int>(sizeof(T));
  if (elements > 0)
    omi_SwapperGuts::InternalizeArray(MustSwap(), scratch.Data(), values, static_cast<std::size_t>(elements),
                                      sizeof(T));
  return elements;
}

template <class T>
void qvt_IO::WriteArray(const T* values, int count) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "elements are 32- or 64-bit units");
  const int byteCount = CheckedByteCount(values, count, sizeof(T));
  qvt_IOScratch scratch(static_cast<std::size_t>(byteCount));
  omi_SwapperGuts::ExternalizeArray(MustSwap(), values, scratch.Data(), static_cast<std::size_t>(count), sizeof(T));
  if (Write(scratch.Data(), byteCount) != byteCount) NEX_THROW_TEXT(kWriteFailed);
}

int qvt_IO::ReadIntArray(int* values, int count) { return ReadArray(values, count); }
int qvt_IO::ReadFloatArray(float* values, int count) { return ReadArray(values, count); }
int qvt_IO::ReadDoubleArray(double* values, int count) { return ReadArray(values, count); }
void qvt_IO::WriteIntArray(const int* values, int count) { WriteArray(values, count); }
void qvt_IO::WriteFloatArray(const float* values, int count) { WriteArray(values, count); }
void qvt_IO::WriteDoubleArray(const double* values, int count) { WriteArray(values, count); }

int qvt_IO::ReadInt() {
  int value = 0;
  if (ReadIntArray(&value, 1) < 1) NEX_THROW_TEXT(kUnexpectedEof);
  return value;
}

float qvt_IO::ReadFloat() {
  float value = 0.0f;
  if (ReadFloatArray(&value, 1) < 1) NEX_THROW_TEXT(kUnexpectedEof);
  return value;
}

double qvt_IO::ReadDouble() {
  double value = 0.0;
  if (ReadDoubleArray(&value, 1) < 1) NEX_THROW_TEXT(kUnexpectedEof);
  return value;
}

void qvt_IO::WriteInt(int value) { WriteIntArray(&value, 1); }
void qvt_IO::WriteFloat(float value) { WriteFloatArray(&value, 1); }
void qvt_IO::WriteDouble(double value) { WriteDoubleArray(&value, 1); }

// The text is the stored bytes up to the first zero byte: the padding that
// filled the width is not part of the string read back.
cow_String qvt_IO::ReadFixedString(int width) {
  if (width < 1) return cow_String();
  qvt_IOScratch scratch(static_cast<std::size_t>(width) + 1);
  char* bytes = scratch.Data();
  const int bytesRead = Read(bytes, width);
  CheckReadCount(bytesRead, width);
  if (bytesRead < width) NEX_THROW_TEXT(kUnexpectedEof);
  bytes[width] = '\0';
  return cow_String(bytes, std::strlen(bytes));
}

void qvt_IO::WriteFixedString(const cow_String& value, int width) {
  if (width < 1) return;
  qvt_IOScratch scratch(static_cast<std::size_t>(width));
  char* bytes = scratch.Data();
  std::memset(bytes, 0, static_cast<std::size_t>(width));
  const std::size_t n = value.size() < static_cast<std::size_t>(width) ? value.size() : static_cast<std::size_t>(width);
  std::memcpy(bytes, value.data(), n);
  // A short write would leave a torn field behind a successful return.
  if (Write(bytes, width) != width) NEX_THROW_TEXT(kWriteFailed);
}
