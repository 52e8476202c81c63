// Name ordering: byte order by default, natural order (digit runs compared
// as numbers) when the process-wide switch is on.
#include "cow_String.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

class NaturalOrderSwitch {
 public:
  explicit NaturalOrderSwitch(bool on) : m_Old(atr_getNaturalOrder()) { atr_setNaturalOrder(on); }
  ~NaturalOrderSwitch() { atr_setNaturalOrder(m_Old); }

 private:
  bool m_Old;
};

std::vector<cow_String> Keys(const std::vector<cow_String>& names) {
  std::map<cow_String, int, cow_StringLess> map;
  for (const auto& n : names) map.emplace(n, 0);
  std::vector<cow_String> keys;
  for (const auto& kv : map) keys.push_back(kv.first);
  return keys;
}

TEST(NameOrder, ByteOrderByDefault) {
  NaturalOrderSwitch off(false);
  EXPECT_EQ(Keys({"item10", "item2", "Item1", "item1"}),
            (std::vector<cow_String>{"Item1", "item1", "item10", "item2"}));
  // High bytes sort after ASCII: compared as unsigned.
  EXPECT_EQ(Keys({"\xE9t\xE9", "zeta"}), (std::vector<cow_String>{"zeta", "\xE9t\xE9"}));
}

TEST(NameOrder, NaturalOrderComparesDigitRunsAsNumbers) {
  NaturalOrderSwitch on(true);
  EXPECT_EQ(Keys({"item10", "item2", "item1", "item1a", "item02"}),
            (std::vector<cow_String>{"item1", "item1a", "item02", "item2", "item10"}));
  EXPECT_EQ(Keys({"step 100", "step 9", "step 10"}), (std::vector<cow_String>{"step 9", "step 10", "step 100"}));
}

TEST(NameOrder, NaturalOrderKeepsDistinctNamesDistinct) {
  NaturalOrderSwitch on(true);
  // "a1" and "a01" are equal numbers; the map must still hold both.
  EXPECT_EQ(Keys({"a01", "a1", "a001"}).size(), 3u);
  EXPECT_EQ(Keys({"x y", "xy"}).size(), 2u);
}

TEST(NameOrder, StrnatcmpAnswersSign) {
  EXPECT_LT(atr_strnatcmp("a2", "a10"), 0);
  EXPECT_GT(atr_strnatcmp("a10", "a2"), 0);
  EXPECT_EQ(atr_strnatcmp("a10", "a10"), 0);
  EXPECT_EQ(atr_strnatcmp("a010", "a10"), 0);
  EXPECT_LT(atr_strnatcmp("a", "a1"), 0);
  EXPECT_LT(atr_strnatcmp("", "a"), 0);
  EXPECT_LT(atr_strnatcmp("99999999999999999999", "100000000000000000000"), 0);  // beyond 64 bits
}

}  // namespace
