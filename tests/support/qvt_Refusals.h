// Tables of refusals: calls that must each end in a library exception (a
// refused call or a failed assertion) with an exact text, so that one table
// lists every refusal of a class, one row per fault.
#ifndef QVT_TESTS_SUPPORT_QVT_REFUSALS_H
#define QVT_TESTS_SUPPORT_QVT_REFUSALS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "nex_Exception.h"
#include <gtest/gtest.h>

namespace qvt_test {

using Refusal = std::pair<std::function<void()>, std::string>;

// Expects every call of rows to throw a library exception whose text is
// exactly its row's; a failure names the row by its index.
inline void ExpectRefusals(const std::vector<Refusal>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string text = "no exception";
    try {
      rows[i].first();
    } catch (const nex_Exception& e) {
      text = e.AsString();
    }
    EXPECT_EQ(text, rows[i].second) << "refusal row " << i;
  }
}

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_REFUSALS_H
