// Row handles: a share of one cache entry of a table, counted in the entry.
// Every operation reaches the row through the entry and is refused when the
// handle has no entry or the table has taken the row away.
#include "qvt_Row.h"

#include <cstdio>

#include "nex_Exception.h"
#include "qvt_RowImpl.h"
#include "qvt_TableRepr.h"
#include "qvt_TableReprMessages.h"

namespace M = qvt_TableMsg;

qvt_Row::qvt_Row() : m_Repr(nullptr) {}

qvt_Row::qvt_Row(qvt_RowRepr* repr) : m_Repr(nullptr) { Take(repr); }

qvt_Row::qvt_Row(const qvt_Row& other) : m_Repr(nullptr) { Take(other.m_Repr); }

qvt_Row& qvt_Row::operator=(const qvt_Row& other) {
  // A handle on the same entry changes nothing; releasing first could
  // otherwise delete the entry that is about to be taken.
  if (this == &other || m_Repr == other.m_Repr) return *this;
  Release();
  Take(other.m_Repr);
  return *this;
}

qvt_Row::~qvt_Row() {
  if (!m_Repr) return;
  // The release of Release() without its exception: destructors never
  // throw, so a broken count is reported instead.
  if (--m_Repr->m_ReferenceCount < 0) {
    std::fprintf(stderr, "*** WARNING: row handle released more often than taken (m_Repr->m_ReferenceCount >= 0)\n");
    return;
  }
  if (m_Repr->m_ReferenceCount == 0 && m_Repr->m_Row == nullptr) delete m_Repr;
}

void qvt_Row::Take(qvt_RowRepr* repr) {
  m_Repr = repr;
  if (!m_Repr) return;
  NEX_ASSERT(m_Repr->m_ReferenceCount >= 0);
  ++m_Repr->m_ReferenceCount;
}

void qvt_Row::Release() {
  if (!m_Repr) return;
  qvt_RowRepr* repr = m_Repr;
  m_Repr = nullptr;
  --repr->m_ReferenceCount;
  if (repr->m_ReferenceCount < 0) nex_AssertException("m_Repr->m_ReferenceCount >= 0").Throw(__FILE__, __LINE__);
  // An entry the table no longer holds belongs to its last handle.
  if (repr->m_ReferenceCount == 0 && repr->m_Row == nullptr) delete repr;
}

void qvt_Row::Nullify() { Release(); }

namespace {
// Kept out of line so that the checks of every access stay small.
[[noreturn]] void FailNoRow(const qvt_RowRepr* repr) {
  if (!repr) NEX_THROW_TEXT(cow_String(M::kNoRow));
  QVT_TABLE_THROW(M::kRowGone, repr->m_LostClassName);
}
}  // namespace

qvt_RowImpl& qvt_Row::Impl() const {
  if (!m_Repr || !m_Repr->m_Row) FailNoRow(m_Repr);
  return *m_Repr->m_Row;
}

int qvt_Row::FieldIsPresent(const qvt_FieldHandle& field) const { return Impl().FieldIsPresent(field); }
int qvt_Row::DataIsPresent(const qvt_FieldHandle& field) const { return Impl().DataIsPresent(field); }

int qvt_Row::ReadFieldInt(const qvt_FieldHandle& field) const { return Impl().ReadFieldInt(field); }
float qvt_Row::ReadFieldFloat(const qvt_FieldHandle& field) const { return Impl().ReadFieldFloat(field); }
double qvt_Row::ReadFieldDouble(const qvt_FieldHandle& field) const { return Impl().ReadFieldDouble(field); }
qvt_Handle qvt_Row::ReadFieldHandle(const qvt_FieldHandle& field) { return Impl().ReadFieldHandle(field); }
cow_String qvt_Row::ReadFieldString(const qvt_FieldHandle& field) { return Impl().ReadFieldString(field); }

void qvt_Row::WriteFieldInt(const qvt_FieldHandle& field, int value) { Impl().WriteFieldInt(field, value); }
void qvt_Row::WriteFieldFloat(const qvt_FieldHandle& field, float value) { Impl().WriteFieldFloat(field, value); }
void qvt_Row::WriteFieldDouble(const qvt_FieldHandle& field, double value) {
  Impl().WriteFieldDouble(field, value);
}
void qvt_Row::WriteFieldHandle(const qvt_FieldHandle& field, qvt_Handle value) {
  Impl().WriteFieldHandle(field, value);
}
void qvt_Row::WriteFieldString(const qvt_FieldHandle& field, const cow_String& value) {
  Impl().WriteFieldString(field, value);
}
void qvt_Row::NeuterFieldString(const qvt_FieldHandle& field, const cow_String& value) {
  Impl().NeuterFieldString(field, value);
}

int qvt_Row::Location() const { return Impl().Location(); }

void qvt_Row::CopyField(const qvt_Row& other, const qvt_FieldHandle& field) {
  qvt_RowImpl& self = Impl();
  self.CopyField(other.Impl(), field);
}

void qvt_Row::Erase(const qvt_FieldHandle& field) { Impl().Erase(field); }
void qvt_Row::Erase() { Impl().Erase(); }

const qvt_FieldMap& qvt_Row::FieldMetadataMap() const { return Impl().Table().GetFieldMap(); }
