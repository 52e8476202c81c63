// The public buffered space: a shared space and a shared 2048-byte I/O
// buffer over it.
#include "qvt_BufferedSpace.h"

#include "qvt_IOBuffer.h"
#include "qvt_SpaceRepr.h"

qvt_BufferedSpace::qvt_BufferedSpace(const qvt_Space& space)
    : m_Space(space), m_Buffer(new qvt_IOBuffer(*space.Repr(), 0)) {}
qvt_BufferedSpace::qvt_BufferedSpace(const qvt_BufferedSpace& other) = default;
qvt_BufferedSpace& qvt_BufferedSpace::operator=(const qvt_BufferedSpace& other) {
  if (this == &other) return *this;
  // The old buffer may write its pending bytes into the old space as it
  // goes, so the old space is held until after the buffer is replaced.
  const qvt_Space oldSpace = m_Space;
  m_Buffer = other.m_Buffer;
  m_Space = other.m_Space;
  return *this;
}
qvt_BufferedSpace::~qvt_BufferedSpace() = default;

qvt_Handle qvt_BufferedSpace::Handle() { return m_Space.Handle(); }
utl_FileOffset qvt_BufferedSpace::Allocation() { return m_Space.Allocation(); }
bool qvt_BufferedSpace::ReadOnly() const { return m_Buffer->ReadOnly(); }
utl_FileOffset qvt_BufferedSpace::Length() { return m_Buffer->Length(); }
void qvt_BufferedSpace::Seek(utl_FileOffset offset) { m_Buffer->Seek(offset); }
utl_FileOffset qvt_BufferedSpace::Location() { return m_Buffer->Location(); }
void qvt_BufferedSpace::Flush() { m_Buffer->Flush(); }
void qvt_BufferedSpace::Extend(utl_FileOffset increment) { (void)m_Buffer->Extend(increment); }
int qvt_BufferedSpace::Read(char* buffer, int count) { return m_Buffer->Read(buffer, count); }
int qvt_BufferedSpace::Write(const char* buffer, int count) { return m_Buffer->Write(buffer, count); }
int qvt_BufferedSpace::ReadIntArray(int* values, int count) { return m_Buffer->ReadIntArray(values, count); }
int qvt_BufferedSpace::ReadFloatArray(float* values, int count) { return m_Buffer->ReadFloatArray(values, count); }
int qvt_BufferedSpace::ReadDoubleArray(double* values, int count) {
  return m_Buffer->ReadDoubleArray(values, count);
}
void qvt_BufferedSpace::WriteIntArray(const int* values, int count) { m_Buffer->WriteIntArray(values, count); }
void qvt_BufferedSpace::WriteFloatArray(const float* values, int count) {
  m_Buffer->WriteFloatArray(values, count);
}
void qvt_BufferedSpace::WriteDoubleArray(const double* values, int count) {
  m_Buffer->WriteDoubleArray(values, count);
}
