// Name ordering and message formatting: byte order by default, natural order
// (digit runs compared as numbers) when the process-wide switch is on;
// sequential and positional placeholders, values never rescanned.
#include "cow_String.h"

#include <map>
#include <vector>

#include "atr_translate.h"
#include <gtest/gtest.h>

namespace {

using Names = std::vector<cow_String>;

// The keys of a map ordered by cow_StringLess, the switch set as asked.
Names Sorted(bool natural, const Names& names) {
  const bool old = atr_getNaturalOrder();
  atr_setNaturalOrder(natural);
  std::map<cow_String, int, cow_StringLess> map;
  for (const auto& n : names) map.emplace(n, 0);
  atr_setNaturalOrder(old);
  Names keys;
  for (const auto& kv : map) keys.push_back(kv.first);
  return keys;
}

// Names equal as numbers (a010, a10) stay distinct, in byte order; digit
// runs longer than 64 bits still compare as numbers.
TEST(NameOrder, ByteOrderOrNaturalOrderBySwitch) {
  const struct {
    bool natural;
    Names in, sorted;
  } cases[] = {
      {false, {"item10", "item2", "Item1", "item1"}, {"Item1", "item1", "item10", "item2"}},
      {false, {"\xE9t\xE9", "zeta"}, {"zeta", "\xE9t\xE9"}},  // high bytes compare unsigned
      {true,
       {"item10", "item2", "item1", "item1a", "item02"},
       {"item1", "item1a", "item02", "item2", "item10"}},
      {true, {"step 100", "step 9", "step 10", "x y", "xy"}, {"step 9", "step 10", "step 100", "x y", "xy"}},
      {true,
       {"a10", "a010", "", "a", "a1", "100000000000000000000", "99999999999999999999"},
       {"", "99999999999999999999", "100000000000000000000", "a", "a1", "a010", "a10"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Sorted(c.natural, c.in), c.sorted);
}

TEST(AtrTranslate, FormatsLikePrintfWithPositionsAndNeverRescans) {
  const std::pair<cow_String, const char*> cases[] = {
      {atr_Format("a %s b %d c", cow_String("x"), 42), "a x b 42 c"},
      {atr_Format("%2$s then %1$s", cow_String("one"), cow_String("two")), "two then one"},
      {atr_Format("100%% %s", cow_String("done")), "100% done"},
      {atr_Format("[%s][%s]", cow_String("only")), "[only][]"},  // a missing value is nothing
      {atr_Format("[%3$s]", cow_String("a")), "[]"},
      {atr_Format("%s and %s", cow_String("%s"), cow_String("%1$s")), "%s and %1$s"},
      {atr_Format("%d %x %f", -12, 255, 3), "-12 ff 3.000000"},
      {atr_Format("%1$d", static_cast<std::int64_t>(1) << 40), "1099511627776"},
      {atr_Format("50%q %s", cow_String("x")), "50%q x"},  // unknown placeholders are text
      {atr_Format("ends with %", cow_String("x")), "ends with %"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.first, c.second);
  atr_Translation t = atr_translate("%2$s, %1$s: %3$d");
  atr_SubstituteFormat(t, 1, cow_String("world"));
  atr_SubstituteFormat(t, 2, "hello");
  atr_SubstituteFormat(t, 3, 7);
  EXPECT_EQ(t.Result(), "hello, world: 7");
}

}  // namespace
