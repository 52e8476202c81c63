// The library's start and stop functions with their per-process counters.
// The foundation stand-ins of this build need no start or stop of their
// own, so the interface functions bracket qvt_initialize and qvt_finalize
// alone. The last qvt_finalize destroys the remote page cache.
#include "qvt_Database.h"
#include "qvt_FileCache.h"

namespace {
int g_QvtCalls = 0;
int g_InterfaceCalls = 0;
}  // namespace

void qvt_initialize(int& counter) {
  if (g_QvtCalls++ == 0) ++counter;
}

void qvt_finalize(int& counter) {
  // More finalizes than initializes would drive the count negative and
  // lower the caller's counter twice.
  if (g_QvtCalls == 0) return;
  if (--g_QvtCalls != 0) return;
  --counter;
  qvt_FileCache::Finalize();
}

void UTI_QvtInterface_initialize(int& counter) {
  if (g_InterfaceCalls++ != 0) return;
  ++counter;
  qvt_initialize(counter);
}

void UTI_QvtInterface_finalize(int& counter) {
  if (g_InterfaceCalls == 0) return;
  if (--g_InterfaceCalls != 0) return;
  --counter;
  qvt_finalize(counter);
}
