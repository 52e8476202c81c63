// A scope guard around a writer's change of a database file: the
// transaction lock beside the file exists for exactly the guard's lifetime,
// so readers answer InTransaction and hold off their refresh meanwhile.
#ifndef QVT_INCLUDE_QVT_READERSEMAPHOREPROXY_H
#define QVT_INCLUDE_QVT_READERSEMAPHOREPROXY_H

class qvt_Database;

class qvt_ReaderSemaphoreProxy {
 public:
  // Takes the transaction lock: database.ReaderSemaphoreSet(). On a
  // read-only database that does nothing.
  // REQUIRES: database outlives the proxy; it is held by reference.
  explicit qvt_ReaderSemaphoreProxy(qvt_Database& database);
  // Releases the lock: database.ReaderSemaphoreClear(), also when the scope
  // is left by an exception. Never throws.
  ~qvt_ReaderSemaphoreProxy();
  qvt_ReaderSemaphoreProxy(const qvt_ReaderSemaphoreProxy&) = delete;
  qvt_ReaderSemaphoreProxy& operator=(const qvt_ReaderSemaphoreProxy&) = delete;

 private:
  qvt_Database& m_Database;
};

#endif  // QVT_INCLUDE_QVT_READERSEMAPHOREPROXY_H
