// Names one field of a table: by index (0 or more), or by name when the
// index is negative. A plain value; build it once and reuse it, since a name
// lookup costs a map search on every access while an index costs none.
#ifndef QVT_INCLUDE_QVT_FIELDHANDLE_H
#define QVT_INCLUDE_QVT_FIELDHANDLE_H

#include "cow_String.h"

class qvt_FieldHandle {
 public:
  // By index; the name stays empty.
  qvt_FieldHandle(int index);  // NOLINT(google-explicit-constructor): ints name fields directly
  // By name when index is negative, by index otherwise.
  qvt_FieldHandle(const cow_String& name, int index = -1);
  // A null name counts as the empty name.
  qvt_FieldHandle(const char* name, int index = -1);
  // The name is prefix followed by suffix (a null suffix adds nothing).
  qvt_FieldHandle(const cow_String& prefix, const char* suffix, int index = -1);

  int Index() const { return m_Index; }
  const cow_String& Name() const { return m_Name; }
  // True when the handle is resolved by its index, not its name.
  bool ByIndex() const { return m_Index >= 0; }

 private:
  int m_Index;
  cow_String m_Name;
};

#endif  // QVT_INCLUDE_QVT_FIELDHANDLE_H
