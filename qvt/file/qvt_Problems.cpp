// The problem list of the layout decoders: kept, or raised at the first
// refusal.
#include "qvt_Problems.h"

#include <utility>

#include "nex_Exception.h"

void qvt_Problems::Add(std::string text, const cow_String& refusal, std::uint32_t handle) {
  if (m_Mode == kRaiseFirstRefusal && !refusal.empty()) NEX_THROW_TEXT(refusal);
  m_List.push_back(qvt_Problem{std::move(text), refusal, handle});
}

bool qvt_Problems::Refused() const {
  for (const qvt_Problem& problem : m_List) {
    if (!problem.refusal.empty()) return true;
  }
  return false;
}
