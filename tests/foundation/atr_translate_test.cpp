#include "atr_translate.h"

#include <gtest/gtest.h>

TEST(AtrTranslate, SubstitutesSequentialPlaceholders) {
  EXPECT_EQ(atr_Format("a %s b %d c", cow_String("x"), 42), "a x b 42 c");
}

TEST(AtrTranslate, SubstitutesPositionalPlaceholders) {
  EXPECT_EQ(atr_Format("%2$s then %1$s", cow_String("one"), cow_String("two")), "two then one");
}

TEST(AtrTranslate, EmptyArgumentLeavesNothing) {
  EXPECT_EQ(atr_Format("*** ERROR: No such file: %s.", cow_String()), "*** ERROR: No such file: .");
}

TEST(AtrTranslate, FormatsDoublesAsPrintfDoes) {
  EXPECT_EQ(atr_Format("offset: %f.", 12.5), "offset: 12.500000.");
  EXPECT_EQ(atr_Format("100%% %s", cow_String("done")), "100% done");
}

TEST(AtrTranslate, MissingValueIsReplacedByNothing) {
  EXPECT_EQ(atr_Format("[%s][%s]", cow_String("only")), "[only][]");
  EXPECT_EQ(atr_Format("[%3$s]", cow_String("a")), "[]");
}

TEST(AtrTranslate, ValuesAreNeverRescannedAsFormats) {
  EXPECT_EQ(atr_Format("%s and %s", cow_String("%s"), cow_String("%1$s")), "%s and %1$s");
}

TEST(AtrTranslate, IntegersInEveryConversion) {
  EXPECT_EQ(atr_Format("%d %x %f", -12, 255, 3), "-12 ff 3.000000");
  EXPECT_EQ(atr_Format("%1$d", static_cast<std::int64_t>(1) << 40), "1099511627776");
}

TEST(AtrTranslate, UnknownPlaceholdersAreCopiedAsText) {
  EXPECT_EQ(atr_Format("50%q %s", cow_String("x")), "50%q x");
  EXPECT_EQ(atr_Format("ends with %", cow_String("x")), "ends with %");
}

TEST(AtrTranslate, TranslationObjectTakesValuesByPosition) {
  atr_Translation t = atr_translate("%2$s, %1$s: %3$d");
  atr_SubstituteFormat(t, 1, cow_String("world"));
  atr_SubstituteFormat(t, 2, "hello");
  atr_SubstituteFormat(t, 3, 7);
  EXPECT_EQ(t.Result(), "hello, world: 7");
}
