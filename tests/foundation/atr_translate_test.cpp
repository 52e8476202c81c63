// Message formatting: sequential and positional placeholders, missing and
// empty values, values never rescanned, and the translation object.
#include "atr_translate.h"

#include <gtest/gtest.h>

TEST(AtrTranslate, FormatsLikePrintfWithPositionsAndNeverRescans) {
  const std::pair<cow_String, const char*> cases[] = {
      {atr_Format("a %s b %d c", cow_String("x"), 42), "a x b 42 c"},
      {atr_Format("%2$s then %1$s", cow_String("one"), cow_String("two")), "two then one"},
      {atr_Format("*** ERROR: No such file: %s.", cow_String()), "*** ERROR: No such file: ."},
      {atr_Format("offset: %f.", 12.5), "offset: 12.500000."},
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
