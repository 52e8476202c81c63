// The public tagged-stream handle: every operation forwards to
// qvt_TaggedStreamRepr.
#include "qvt_TaggedStream.h"

#include "qvt_TaggedStreamRepr.h"

qvt_TaggedStream::qvt_TaggedStream(qvt_TaggedStreamRepr* repr) : m_Repr(repr) {}
qvt_TaggedStream::qvt_TaggedStream(const qvt_TaggedStream& other) = default;
qvt_TaggedStream& qvt_TaggedStream::operator=(const qvt_TaggedStream& other) = default;
qvt_TaggedStream::~qvt_TaggedStream() = default;

qvt_Handle qvt_TaggedStream::Handle() { return m_Repr->Handle(); }
int qvt_TaggedStream::Flush() { return m_Repr->Flush(); }
int qvt_TaggedStream::Snap() { return m_Repr->Snap(); }

void qvt_TaggedStream::WriteInt(int id, int value) { m_Repr->WriteInt(id, value); }
void qvt_TaggedStream::WriteFloat(int id, float value) { m_Repr->WriteFloat(id, value); }
void qvt_TaggedStream::WriteDouble(int id, double value) { m_Repr->WriteDouble(id, value); }
void qvt_TaggedStream::WriteHandle(int id, qvt_Handle value) { m_Repr->WriteHandle(id, value); }
void qvt_TaggedStream::WriteString(int id, const cow_String& value) { m_Repr->WriteString(id, value); }
void qvt_TaggedStream::WriteFixedString(int id, const cow_String& value) {
  m_Repr->WriteFixedString(id, value);
}

bool qvt_TaggedStream::Next() { return m_Repr->Next(); }
qvt_Type qvt_TaggedStream::GetType() { return m_Repr->GetType(); }
int qvt_TaggedStream::GetID() { return m_Repr->GetID(); }
int qvt_TaggedStream::GetInt() { return m_Repr->GetInt(); }
float qvt_TaggedStream::GetFloat() { return m_Repr->GetFloat(); }
double qvt_TaggedStream::GetDouble() { return m_Repr->GetDouble(); }
qvt_Handle qvt_TaggedStream::GetHandle() { return m_Repr->GetHandle(); }
cow_String qvt_TaggedStream::GetString() { return m_Repr->GetString(); }

cow_1DArrayList<cow_String> qvt_TaggedStream::GetObjStatistics() { return m_Repr->GetObjStatistics(); }
utl_FileOffset qvt_TaggedStream::SpaceLength() { return m_Repr->SpaceLength(); }
utl_FileOffset qvt_TaggedStream::SpaceAllocation() { return m_Repr->SpaceAllocation(); }
