// Exceptions of the library. Every failure is one of these: a text exception
// carrying a message, or an assertion exception carrying the failed
// condition. Each is raised through Throw(file, line), which records where it
// was raised and throws a copy of the most-derived class, so handlers for the
// class itself or any base (including std::exception) catch it.
#ifndef QVT_FOUNDATION_NEX_EXCEPTION_H
#define QVT_FOUNDATION_NEX_EXCEPTION_H

#include <exception>

#include "cow_String.h"

class nex_Exception : public std::exception {
 public:
  ~nex_Exception() override = default;

  // The message with the recorded source location appended.
  virtual cow_String DeveloperReport() const;
  // The message alone.
  virtual cow_String UserReport() const;
  virtual cow_String AsString() const = 0;

  // Records the source location and throws a copy of this object as its
  // most-derived class. Never returns.
  [[noreturn]] void Throw(const char* sourceFile, int sourceLine);

  const char* what() const noexcept override;
  const char* SourceFile() const { return m_SourceFile; }
  int SourceLine() const { return m_SourceLine; }

 protected:
  nex_Exception() = default;
  nex_Exception(const nex_Exception&) = default;
  nex_Exception& operator=(const nex_Exception&) = default;
  // Throws *this by value as the most-derived class.
  [[noreturn]] virtual void Raise() const = 0;

 private:
  const char* m_SourceFile = "";
  int m_SourceLine = 0;
  mutable cow_String m_What;  // backs the pointer what() returns
};

class nex_TextException : public nex_Exception {
 public:
  explicit nex_TextException(cow_String message) : m_Message(std::move(message)) {}
  cow_String AsString() const override { return m_Message; }
  const cow_String& Message() const { return m_Message; }

 protected:
  [[noreturn]] void Raise() const override { throw *this; }

 private:
  cow_String m_Message;
};

// A failed internal consistency check; the text is the failed condition.
class nex_AssertException : public nex_Exception {
 public:
  explicit nex_AssertException(cow_String condition) : m_Condition(std::move(condition)) {}
  cow_String AsString() const override { return m_Condition; }

 protected:
  [[noreturn]] void Raise() const override { throw *this; }

 private:
  cow_String m_Condition;
};

// Raises an exception object with the current source location.
#define NEX_THROW(excObject) (excObject).Throw(__FILE__, __LINE__)

// Raises nex_TextException(message).
#define NEX_THROW_TEXT(message) nex_TextException(message).Throw(__FILE__, __LINE__)

// Raises nex_AssertException carrying the condition's source text when the
// condition is false.
#define NEX_ASSERT(condition)                                            \
  do {                                                                   \
    if (!(condition)) nex_AssertException(#condition).Throw(__FILE__, __LINE__); \
  } while (0)

// Raises nex_AssertException with a given text when the condition is false.
#define NEX_ASSERT_MSG(condition, text)                                  \
  do {                                                                   \
    if (!(condition)) nex_AssertException(text).Throw(__FILE__, __LINE__); \
  } while (0)

#endif  // QVT_FOUNDATION_NEX_EXCEPTION_H
