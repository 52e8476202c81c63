// Field handles: an index, a name, or both.
#include "qvt_FieldHandle.h"

qvt_FieldHandle::qvt_FieldHandle(int index) : m_Index(index) {}

qvt_FieldHandle::qvt_FieldHandle(const cow_String& name, int index) : m_Index(index), m_Name(name) {}

qvt_FieldHandle::qvt_FieldHandle(const char* name, int index)
    : m_Index(index), m_Name(name ? name : "") {}

qvt_FieldHandle::qvt_FieldHandle(const cow_String& prefix, const char* suffix, int index)
    : m_Index(index), m_Name(prefix) {
  if (suffix) m_Name.append(suffix);
}
