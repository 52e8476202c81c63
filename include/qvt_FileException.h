// Failures that concern a file as a whole: missing, unreadable, read-only,
// unreachable, or a file method called with bad arguments. Each class only
// fixes its message; every one is a nex_TextException, so callers can catch
// the family apart from the text exceptions raised for corrupt data.
// Raise with NEX_THROW(qvt_FileNoSuchFile(name)): a handler for the class
// itself, qvt_FileException, nex_TextException, nex_Exception or
// std::exception catches it.
#ifndef QVT_INCLUDE_QVT_FILEEXCEPTION_H
#define QVT_INCLUDE_QVT_FILEEXCEPTION_H

#include "cow_String.h"
#include "nex_Exception.h"

// The base of the family, built from a finished message text.
class qvt_FileException : public nex_TextException {
 public:
  explicit qvt_FileException(const cow_String& message);
  qvt_FileException(const qvt_FileException& other) = default;
  ~qvt_FileException() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// "*** ERROR: No such file: <fileName>."
class qvt_FileNoSuchFile : public qvt_FileException {
 public:
  explicit qvt_FileNoSuchFile(const cow_String& fileName);
  qvt_FileNoSuchFile(const qvt_FileNoSuchFile& other) = default;
  ~qvt_FileNoSuchFile() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// "*** ERROR: No permission to read: <fileName>."
class qvt_FileNotReadable : public qvt_FileException {
 public:
  explicit qvt_FileNotReadable(const cow_String& fileName);
  qvt_FileNotReadable(const qvt_FileNotReadable& other) = default;
  ~qvt_FileNotReadable() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// Two lines: "*** ERROR: Attempt to write to read-only file:" and
// "  <fileName>".
class qvt_FileReadOnlyExc : public qvt_FileException {
 public:
  explicit qvt_FileReadOnlyExc(const cow_String& fileName);
  qvt_FileReadOnlyExc(const qvt_FileReadOnlyExc& other) = default;
  ~qvt_FileReadOnlyExc() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// "*** ERROR: Bad parameter passed to file method: <methodName>."
// A null methodName is reported as an empty name.
class qvt_FileBadParameterExc : public qvt_FileException {
 public:
  explicit qvt_FileBadParameterExc(const char* methodName);
  qvt_FileBadParameterExc(const qvt_FileBadParameterExc& other) = default;
  ~qvt_FileBadParameterExc() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// Three lines: "*** ERROR: Can't connect to remote file:",
// "<fileName>, reason:" and "<reason>".
class qvt_FileConnectExc : public qvt_FileException {
 public:
  qvt_FileConnectExc(const cow_String& fileName, const cow_String& reason);
  qvt_FileConnectExc(const qvt_FileConnectExc& other) = default;
  ~qvt_FileConnectExc() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// Three lines: "*** ERROR: Lost connection to remote file:",
// "<fileName>, reason:" and "<reason>".
class qvt_FileFailExc : public qvt_FileException {
 public:
  qvt_FileFailExc(const cow_String& fileName, const cow_String& reason);
  qvt_FileFailExc(const qvt_FileFailExc& other) = default;
  ~qvt_FileFailExc() override;

 protected:
  [[noreturn]] void Raise() const override;
};

// Two lines: "*** ERROR: Another writer has the file open for writing:"
// and "  <fileName>". Raised when a file is opened for update or created
// while another writer, in this process or another, holds it.
class qvt_FileWriterLockedExc : public qvt_FileException {
 public:
  explicit qvt_FileWriterLockedExc(const cow_String& fileName);
  qvt_FileWriterLockedExc(const qvt_FileWriterLockedExc& other) = default;
  ~qvt_FileWriterLockedExc() override;

 protected:
  [[noreturn]] void Raise() const override;
};

#endif  // QVT_INCLUDE_QVT_FILEEXCEPTION_H
