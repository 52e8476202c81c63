// The public array handle: every operation forwards to qvt_ArrayRepr, and
// the four instantiations are made here once for the whole library.
#include "qvt_Array.h"

#include "qvt_ArrayRepr.h"
#include "qvt_Database.h"

template <class T, int N>
qvt_Array<T, N>::qvt_Array(qvt_ArrayRepr* repr) : m_Repr(repr) {}

template <class T, int N>
qvt_Array<T, N>::qvt_Array(const qvt_Array& other) = default;

template <class T, int N>
qvt_Array<T, N>& qvt_Array<T, N>::operator=(const qvt_Array& other) = default;

template <class T, int N>
qvt_Array<T, N>::~qvt_Array() = default;

template <class T, int N>
qvt_Handle qvt_Array<T, N>::Handle() {
  return m_Repr->Handle();
}

template <class T, int N>
int qvt_Array<T, N>::Length() {
  return m_Repr->Length();
}

template <class T, int N>
int qvt_Array<T, N>::Location() {
  return m_Repr->Location();
}

template <class T, int N>
void qvt_Array<T, N>::Seek(int row) {
  m_Repr->Seek(row);
}

template <class T, int N>
void qvt_Array<T, N>::Truncate(int rows) {
  m_Repr->Truncate(rows);
}

template <class T, int N>
int qvt_Array<T, N>::Flush() {
  return m_Repr->Flush();
}

template <class T, int N>
int qvt_Array<T, N>::Snap() {
  return m_Repr->Snap();
}

template <class T, int N>
int qvt_Array<T, N>::FieldCount() {
  return m_Repr->FieldCount();
}

template <class T, int N>
qvt_Type qvt_Array<T, N>::Type() {
  return m_Repr->Type();
}

template <class T, int N>
int qvt_Array<T, N>::RowSize() {
  return m_Repr->RowSize();
}

template <class T, int N>
cow_1DArrayList<cow_String> qvt_Array<T, N>::GetObjStatistics() {
  return m_Repr->GetObjStatistics();
}

template <class T, int N>
utl_FileOffset qvt_Array<T, N>::SpaceLength() {
  return m_Repr->SpaceLength();
}

template <class T, int N>
utl_FileOffset qvt_Array<T, N>::SpaceAllocation() {
  return m_Repr->SpaceAllocation();
}

template <class T, int N>
int qvt_Array<T, N>::CopyAllowed(const qvt_Array& other) {
  return m_Repr->CopyAllowed(*other.m_Repr);
}

template <class T, int N>
void qvt_Array<T, N>::Append(qvt_Array& other) {
  m_Repr->Append(*other.m_Repr);
}

template <class T, int N>
int qvt_Array<T, N>::Write(const T* data, int rowCount) {
  return m_Repr->Write(data, rowCount);
}

template <class T, int N>
int qvt_Array<T, N>::Read(T* data, int rowCount) {
  return m_Repr->Read(data, rowCount);
}

template <class T, int N>
qvt_Handle qvt_Array<T, N>::CreateCopy(qvt_Database& destination, qvt_Database& source, qvt_Handle handle) {
  return qvt_ArrayRepr::CreateCopy(*destination.Repr(), *source.Repr(), handle);
}

template class qvt_Array<int, 1>;
template class qvt_Array<float, 3>;
template class qvt_Array<double, 4>;
template class qvt_Array<cow_String, 6>;
