// Raising and reporting of library exceptions.
#include "nex_Exception.h"

#include <exception>
#include <string>

cow_String nex_Exception::DeveloperReport() const {
  return AsString() + " (" + m_SourceFile + ":" + std::to_string(m_SourceLine) + ")";
}

cow_String nex_Exception::UserReport() const { return AsString(); }

void nex_Exception::Throw(const char* sourceFile, int sourceLine) {
  m_SourceFile = sourceFile ? sourceFile : "";
  m_SourceLine = sourceLine;
  Raise();
  std::terminate();  // Raise always throws; this only tells the compiler so
}

const char* nex_Exception::what() const noexcept {
  // Every concrete class keeps its text in a member that lives as long as the
  // object; report through a per-object cache so the pointer stays valid.
  try {
    m_What = AsString();
  } catch (...) {
    return "exception";
  }
  return m_What.c_str();
}
