// The file exception family: every message text of the family lives here and
// is filled through the message formatter, so a translation table (if one is
// ever installed) sees the formats as they stand.
#include "qvt_FileException.h"

#include "atr_translate.h"

namespace {
const char kNoSuchFile[] = "*** ERROR: No such file: %s.";
const char kNotReadable[] = "*** ERROR: No permission to read: %s.";
const char kReadOnly[] = "*** ERROR: Attempt to write to read-only file:\n  %s";
const char kBadParameter[] = "*** ERROR: Bad parameter passed to file method: %s.";
const char kConnect[] = "*** ERROR: Can't connect to remote file:\n%s, reason:\n%s";
const char kFail[] = "*** ERROR: Lost connection to remote file:\n%s, reason:\n%s";
const char kWriterLocked[] = "*** ERROR: Another writer has the file open for writing:\n  %s";

cow_String Format1(const char* format, const cow_String& first) {
  atr_Translation t = atr_translate(format);
  atr_SubstituteFormat(t, 1, first);
  return t.Result();
}

cow_String Format2(const char* format, const cow_String& first, const cow_String& second) {
  atr_Translation t = atr_translate(format);
  atr_SubstituteFormat(t, 1, first);
  atr_SubstituteFormat(t, 2, second);
  return t.Result();
}
}  // namespace

qvt_FileException::qvt_FileException(const cow_String& message) : nex_TextException(message) {}
qvt_FileException::~qvt_FileException() = default;
void qvt_FileException::Raise() const { throw *this; }

qvt_FileNoSuchFile::qvt_FileNoSuchFile(const cow_String& fileName)
    : qvt_FileException(Format1(kNoSuchFile, fileName)) {}
qvt_FileNoSuchFile::~qvt_FileNoSuchFile() = default;
void qvt_FileNoSuchFile::Raise() const { throw *this; }

qvt_FileNotReadable::qvt_FileNotReadable(const cow_String& fileName)
    : qvt_FileException(Format1(kNotReadable, fileName)) {}
qvt_FileNotReadable::~qvt_FileNotReadable() = default;
void qvt_FileNotReadable::Raise() const { throw *this; }

qvt_FileReadOnlyExc::qvt_FileReadOnlyExc(const cow_String& fileName)
    : qvt_FileException(Format1(kReadOnly, fileName)) {}
qvt_FileReadOnlyExc::~qvt_FileReadOnlyExc() = default;
void qvt_FileReadOnlyExc::Raise() const { throw *this; }

qvt_FileBadParameterExc::qvt_FileBadParameterExc(const char* methodName)
    : qvt_FileException(Format1(kBadParameter, cow_String(methodName ? methodName : ""))) {}
qvt_FileBadParameterExc::~qvt_FileBadParameterExc() = default;
void qvt_FileBadParameterExc::Raise() const { throw *this; }

qvt_FileConnectExc::qvt_FileConnectExc(const cow_String& fileName, const cow_String& reason)
    : qvt_FileException(Format2(kConnect, fileName, reason)) {}
qvt_FileConnectExc::~qvt_FileConnectExc() = default;
void qvt_FileConnectExc::Raise() const { throw *this; }

qvt_FileFailExc::qvt_FileFailExc(const cow_String& fileName, const cow_String& reason)
    : qvt_FileException(Format2(kFail, fileName, reason)) {}
qvt_FileFailExc::~qvt_FileFailExc() = default;
void qvt_FileFailExc::Raise() const { throw *this; }

qvt_FileWriterLockedExc::qvt_FileWriterLockedExc(const cow_String& fileName)
    : qvt_FileException(Format1(kWriterLocked, fileName)) {}
qvt_FileWriterLockedExc::~qvt_FileWriterLockedExc() = default;
void qvt_FileWriterLockedExc::Raise() const { throw *this; }
