// Reading one object of an open database to its end through the library,
// as any post-processor would: every present field of every row, every
// array value, every stream record and every space byte. qvtdb check and
// the fuzz targets both read this way.
#ifndef QVT_TOOLS_QVTDB_QVTDB_READOBJECT_H
#define QVT_TOOLS_QVTDB_QVTDB_READOBJECT_H

#include "qvt_Database.h"
#include "qvt_Handle.h"

// THROWS the library's exception where the object cannot be read, and
// nex_TextException when an array or a space ends before its length.
void qvtdb_ReadObject(qvt_Database& database, qvt_Handle handle);

#endif  // QVT_TOOLS_QVTDB_QVTDB_READOBJECT_H
