// A writer of numbered batches and a reader that checks them, for the tests that kill a writer: each batch is
// one transaction (a table row, a double and a string array, two tagged-stream records) ended by a Flush.
#ifndef QVT_TESTS_SUPPORT_QVT_BATCHWORKLOAD_H
#define QVT_TESTS_SUPPORT_QVT_BATCHWORKLOAD_H

#include <functional>
#include <string>

namespace qvt_test {

// Creates path (compressed or plain) or opens it for update, and writes
// batches, the same bytes for the same calls, until it holds lastBatch. flushed
// hears the number stored after each database Flush (0 after creating).
void WriteBatches(const std::string& path, bool compressed, bool create, int lastBatch,
                  const std::function<void(int)>& flushed = nullptr);

// Checks every batch stored in path; answers their number, or -1 with what is wrong in *problem.
int CountSoundBatches(const std::string& path, std::string* problem);

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_BATCHWORKLOAD_H
