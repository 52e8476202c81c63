// One field of a table class and its part of the stored metadata record.
#include "qvt_TableMetadata.h"

#include "qvt_IOS.h"

qvt_FieldMetadata::qvt_FieldMetadata() : m_Name("novalue"), m_Type(qvt_TypeNone), m_Index(-1), m_Present(1) {}

qvt_FieldMetadata::qvt_FieldMetadata(const cow_String& name, qvt_Type type, int index, int present)
    : m_Name(name), m_Type(type), m_Index(index), m_Present(present) {}

void qvt_FieldMetadata::WriteTo(qvt_IOS& stream) const {
  stream.WriteInt(static_cast<int>(m_Type));
  stream.WriteString(m_Name);
}
