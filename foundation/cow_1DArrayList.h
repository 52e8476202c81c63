// Indexed list of values, as the diagnostics and name listings of the
// library answer them: a count (size()) and the values in order.
#ifndef QVT_FOUNDATION_COW_1DARRAYLIST_H
#define QVT_FOUNDATION_COW_1DARRAYLIST_H

#include <vector>

template <class T>
using cow_1DArrayList = std::vector<T>;

#endif  // QVT_FOUNDATION_COW_1DARRAYLIST_H
