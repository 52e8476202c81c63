// A writer that stores numbered batches and a reader that checks them, for
// the tests that kill a writer or compare a clean run's bytes: each batch is
// one transaction (a table row with a pooled string, a new double array and
// a new string array, two tagged-stream records) ended by a Flush.
#ifndef QVT_TESTS_SUPPORT_QVT_BATCHWORKLOAD_H
#define QVT_TESTS_SUPPORT_QVT_BATCHWORKLOAD_H

#include <functional>
#include <string>

namespace qvt_test {

// Creates path (compressed or plain) when create, else opens it for update,
// and writes batches until the table holds lastBatch of them; then closes
// the database. Deterministic: the same calls write the same bytes.
// flushed, when given, hears the number of batches stored after each
// database Flush has returned (0 for the flush after creating).
void WriteBatches(const std::string& path, bool compressed, bool create, int lastBatch,
                  const std::function<void(int)>& flushed = nullptr);

// Opens path for reading and checks every stored batch in full. Answers the
// number of batches, or -1 with what is wrong in *problem.
int CountSoundBatches(const std::string& path, std::string* problem);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_BATCHWORKLOAD_H
