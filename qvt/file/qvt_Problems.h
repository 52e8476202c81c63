// What a reader of stored bytes finds wrong with them. Every decoder of an
// on-disk layout reports into one of these lists: the library's readers use
// a list that raises the first problem they refuse a file for, so opening
// fails exactly where it always did; qvtdb check keeps every problem and
// prints their texts. Used by the file layer and everything above it.
#ifndef QVT_IMPL_QVT_PROBLEMS_H
#define QVT_IMPL_QVT_PROBLEMS_H

#include <cstdint>
#include <string>
#include <vector>

#include "cow_String.h"

struct qvt_Problem {
  std::string text;    // what is wrong and where, for a check report
  cow_String refusal;  // the library's message when it refuses the file for this; empty when it reads on
  std::uint32_t handle = 0;  // the linkage entry it is about, 0 for none
};

class qvt_Problems {
 public:
  enum Mode { kKeepAll, kRaiseFirstRefusal };

  explicit qvt_Problems(Mode mode = kKeepAll) : m_Mode(mode) {}

  // Records a problem. In kRaiseFirstRefusal mode a problem with a refusal
  // THROWS nex_TextException(refusal) instead; problems without one are
  // kept either way.
  void Add(std::string text, const cow_String& refusal = cow_String(), std::uint32_t handle = 0);

  const std::vector<qvt_Problem>& List() const { return m_List; }
  bool Empty() const { return m_List.empty(); }
  std::size_t Size() const { return m_List.size(); }
  // True when a kept problem carries a refusal.
  bool Refused() const;

 private:
  Mode m_Mode;
  std::vector<qvt_Problem> m_List;
};

#endif  // QVT_IMPL_QVT_PROBLEMS_H
