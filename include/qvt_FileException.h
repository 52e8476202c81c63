// Failures that concern a file as a whole: missing, unreadable, read-only,
// unreachable, or a file method called with bad arguments. Each class only
// fixes its message; all are nex_TextException.
#ifndef QVT_INCLUDE_QVT_FILEEXCEPTION_H
#define QVT_INCLUDE_QVT_FILEEXCEPTION_H

#include "cow_String.h"
#include "nex_Exception.h"

class qvt_FileException : public nex_TextException {
 public:
  explicit qvt_FileException(const cow_String& message) : nex_TextException(message) {}
  ~qvt_FileException() override = default;

 protected:
  [[noreturn]] void Raise() const override { throw *this; }
};

#define QVT_FILE_EXCEPTION_CLASS(Name)                     \
  class Name : public qvt_FileException {                  \
   public:                                                 \
    ~Name() override = default;                            \
                                                           \
   protected:                                              \
    [[noreturn]] void Raise() const override { throw *this; } \
                                                           \
   public:

// "*** ERROR: No such file: %s."
QVT_FILE_EXCEPTION_CLASS(qvt_FileNoSuchFile)
  explicit qvt_FileNoSuchFile(const cow_String& fileName);
};

// "*** ERROR: No permission to read: %s."
QVT_FILE_EXCEPTION_CLASS(qvt_FileNotReadable)
  explicit qvt_FileNotReadable(const cow_String& fileName);
};

// "*** ERROR: Attempt to write to read-only file:\n  %s"
QVT_FILE_EXCEPTION_CLASS(qvt_FileReadOnlyExc)
  explicit qvt_FileReadOnlyExc(const cow_String& fileName);
};

// "*** ERROR: Bad parameter passed to file method: %s."
QVT_FILE_EXCEPTION_CLASS(qvt_FileBadParameterExc)
  explicit qvt_FileBadParameterExc(const char* methodName);
};

// "*** ERROR: Can't connect to remote file:\n%s, reason:\n%s"
QVT_FILE_EXCEPTION_CLASS(qvt_FileConnectExc)
  qvt_FileConnectExc(const cow_String& fileName, const cow_String& reason);
};

// "*** ERROR: Lost connection to remote file:\n%s, reason:\n%s"
QVT_FILE_EXCEPTION_CLASS(qvt_FileFailExc)
  qvt_FileFailExc(const cow_String& fileName, const cow_String& reason);
};

#undef QVT_FILE_EXCEPTION_CLASS

#endif  // QVT_INCLUDE_QVT_FILEEXCEPTION_H
