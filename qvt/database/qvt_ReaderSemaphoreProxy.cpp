// The transaction guard: set on construction, cleared on destruction.
#include "qvt_ReaderSemaphoreProxy.h"

#include <cstdio>
#include <exception>

#include "qvt_Database.h"

qvt_ReaderSemaphoreProxy::qvt_ReaderSemaphoreProxy(qvt_Database& database) : m_Database(database) {
  m_Database.ReaderSemaphoreSet();
}

qvt_ReaderSemaphoreProxy::~qvt_ReaderSemaphoreProxy() {
  try {
    m_Database.ReaderSemaphoreClear();
  } catch (const std::exception& e) {
    // A destructor must not throw, least of all while an exception leaves
    // the guarded scope; the failure is reported where a person sees it.
    (void)std::fprintf(stderr, "%s\n", e.what());
  }
}
