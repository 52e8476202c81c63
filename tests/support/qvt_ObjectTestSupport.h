// Helpers for the array and tagged-stream suites: the stored bytes of an
// object, fault sweeps and tagged records.
#ifndef QVT_TESTS_SUPPORT_QVT_OBJECTTESTSUPPORT_H
#define QVT_TESTS_SUPPORT_QVT_OBJECTTESTSUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include "qvt_DatabaseFixture.h"
#include "qvt_DatabaseReprFile.h"

class qvt_TaggedStreamRepr;

namespace qvt_test {

// The whole content of the space of handle, read through the linkage.
std::vector<unsigned char> ObjectBytes(qvt_DatabaseReprFile& db, qvt_Handle handle);
// The 32-bit big-endian words of bytes from offset on.
std::vector<std::uint32_t> Words(const std::vector<unsigned char>& bytes, std::size_t offset,
                                 std::size_t count);

// Runs write on a new local database whose file fails every change (write, growth, trim, size record) from
// its N-th on, for N = 1, 2, ... until a run ends without failure; write counts in *flushes the flushes it
// completed. Each run must end in success or the injected failure; the file, reopened read-only, goes to
// check with the flushes it announces (one more when a flush failed after storing its count), unless no flush
// completed and it does not open. Answers the number of failure points swept.
using FaultWriter = std::function<void(qvt_DatabaseReprFile& db, int* flushes)>;
using FaultChecker = std::function<void(qvt_DatabaseReprFile& db, int flushes)>;
int SweepFileFaults(const std::string& path, const FaultWriter& write, const FaultChecker& check);

// Tagged record i of a set: the six kinds in turn (int, handle, float,
// double, pooled string, fixed string), identifier i.
void WriteTaggedRecord(qvt_TaggedStreamRepr& stream, int i);
// Expects the current record to be record i, zero from the other getters.
void ExpectTaggedRecord(const qvt_TaggedStreamRepr& stream, int i);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_OBJECTTESTSUPPORT_H
