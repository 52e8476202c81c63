// The tagged-stream operations of the public database: each builds a stream
// implementation on the database and hands it to a new handle.
#include "qvt_Database.h"
#include "qvt_TaggedStreamRepr.h"

qvt_TaggedStream qvt_Database::TaggedStream(int bufferSize) {
  return qvt_TaggedStream(new qvt_TaggedStreamRepr(Repr(), bufferSize));
}

qvt_TaggedStream qvt_Database::TaggedStream(qvt_Handle handle, int bufferSize) {
  return qvt_TaggedStream(new qvt_TaggedStreamRepr(Repr(), handle, bufferSize));
}
