// The public space handle: a counted share of one qvt_SpaceRepr.
#include "qvt_Space.h"

#include "qvt_SpaceRepr.h"

qvt_Space::qvt_Space(qvt_SpaceRepr* repr) : m_Repr(repr) {}
qvt_Space::qvt_Space(const qvt_Space& other) = default;
qvt_Space& qvt_Space::operator=(const qvt_Space& other) = default;
qvt_Space::~qvt_Space() = default;

qvt_Handle qvt_Space::Handle() { return m_Repr->Handle(); }
bool qvt_Space::ReadOnly() const { return m_Repr->ReadOnly(); }
utl_FileOffset qvt_Space::Length() { return m_Repr->Length(); }
void qvt_Space::Seek(utl_FileOffset offset) { m_Repr->Seek(offset); }
void qvt_Space::Truncate(utl_FileOffset length) { m_Repr->Truncate(length); }
utl_FileOffset qvt_Space::Location() { return m_Repr->Location(); }
void qvt_Space::Flush() { m_Repr->Flush(); }
void qvt_Space::Extend(utl_FileOffset increment) { (void)m_Repr->Extend(increment); }
int qvt_Space::Read(char* buffer, int count) { return m_Repr->Read(buffer, count); }
int qvt_Space::Write(const char* buffer, int count) { return m_Repr->Write(buffer, count); }
int qvt_Space::ReadInt() { return m_Repr->ReadInt(); }
void qvt_Space::WriteInt(int value) { m_Repr->WriteInt(value); }
utl_FileOffset qvt_Space::Allocation() { return m_Repr->Allocation(); }
