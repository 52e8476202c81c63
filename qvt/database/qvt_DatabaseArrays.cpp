// The array operations of the public database: each builds an array
// implementation on the database and hands it to a new handle. Opening
// checks that the stored element type is the one the caller asked for.
#include "nex_Exception.h"
#include "qvt_ArrayRepr.h"
#include "qvt_Database.h"

namespace {

template <class T, int N>
qvt_Array<T, N> NewArray(qvt_DatabaseRepr* database, int fieldCount, int increment, int bufferSize) {
  return qvt_Array<T, N>(
      new qvt_ArrayRepr(database, static_cast<qvt_Type>(N), fieldCount, increment, bufferSize));
}

template <class T, int N>
qvt_Array<T, N> OpenArray(qvt_DatabaseRepr* database, qvt_Handle handle, int increment, int bufferSize) {
  qvt_ArrayRepr* repr = new qvt_ArrayRepr(database, handle, increment, bufferSize);
  // The handle owns the implementation from here, also when the check fails.
  qvt_Array<T, N> array(repr);
  const qvt_Type type = static_cast<qvt_Type>(N);
  NEX_ASSERT(repr->Type() == type);
  return array;
}

}  // namespace

qvt_Array<int, 1> qvt_Database::ArrayInt(int fieldCount, int increment, int bufferSize) {
  return NewArray<int, 1>(Repr(), fieldCount, increment, bufferSize);
}
qvt_Array<float, 3> qvt_Database::ArrayFloat(int fieldCount, int increment, int bufferSize) {
  return NewArray<float, 3>(Repr(), fieldCount, increment, bufferSize);
}
qvt_Array<double, 4> qvt_Database::ArrayDouble(int fieldCount, int increment, int bufferSize) {
  return NewArray<double, 4>(Repr(), fieldCount, increment, bufferSize);
}
qvt_Array<cow_String, 6> qvt_Database::ArrayString(int fieldCount, int increment, int bufferSize) {
  return NewArray<cow_String, 6>(Repr(), fieldCount, increment, bufferSize);
}

qvt_Array<int, 1> qvt_Database::ArrayInt(qvt_Handle handle, int increment, int bufferSize) {
  return OpenArray<int, 1>(Repr(), handle, increment, bufferSize);
}
qvt_Array<float, 3> qvt_Database::ArrayFloat(qvt_Handle handle, int increment, int bufferSize) {
  return OpenArray<float, 3>(Repr(), handle, increment, bufferSize);
}
qvt_Array<double, 4> qvt_Database::ArrayDouble(qvt_Handle handle, int increment, int bufferSize) {
  return OpenArray<double, 4>(Repr(), handle, increment, bufferSize);
}
qvt_Array<cow_String, 6> qvt_Database::ArrayString(qvt_Handle handle, int increment, int bufferSize) {
  return OpenArray<cow_String, 6>(Repr(), handle, increment, bufferSize);
}
