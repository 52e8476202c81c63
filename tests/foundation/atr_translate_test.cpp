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
