// Pooled strings on a typed stream: 8-byte references written and read
// through the string pool's interface, with the checks of the typed arrays.
#include "qvt_IOS.h"

#include <gtest/gtest.h>

#include <climits>

#include "nex_Exception.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::MemoryIOS;
using Bytes = std::vector<unsigned char>;

TEST(PooledStrings, EqualStringsShareOneReference) {
  MemoryIOS io;
  const cow_String strings[3] = {"abc", "de", "abc"};
  io.WriteStringArray(strings, 3);
  io.WriteString("de");
  EXPECT_EQ(io.Writes(), 2);
  ASSERT_EQ(io.Pool().Strings().size(), 2u);
  const Bytes expected = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2,
                          0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2};
  EXPECT_EQ(io.Bytes(), expected);

  io.Seek(0);
  cow_String got[3];
  EXPECT_EQ(io.ReadStringArray(got, 3), 3);
  EXPECT_EQ(got[0], "abc");
  EXPECT_EQ(got[1], "de");
  EXPECT_EQ(got[2], "abc");
  EXPECT_EQ(io.ReadString(), "de");
  EXPECT_EQ(io.Reads(), 2);
}

TEST(PooledStrings, PartialReferenceAtTheEndIsNotDelivered) {
  MemoryIOS io;
  cow_String s = "untouched";
  EXPECT_EQ(io.ReadStringArray(&s, 1), 0);  // at the end: nothing, without message
  EXPECT_EQ(s, "untouched");
  const cow_String strings[2] = {"x", "y"};
  io.WriteStringArray(strings, 2);
  io.Bytes().resize(12);  // one whole reference and a half
  io.Seek(0);
  cow_String got[2] = {"keep0", "keep1"};
  EXPECT_EQ(io.ReadStringArray(got, 2), 1);
  EXPECT_EQ(got[0], "x");
  EXPECT_EQ(got[1], "keep1");
  QVT_EXPECT_THROW_TEXT(io.ReadString(), nex_TextException, "***ERROR: Unexpected End Of File.");
}

TEST(PooledStrings, BadArgumentsUseTheArrayMessages) {
  MemoryIOS io;
  cow_String s;
  QVT_EXPECT_THROW_TEXT(io.ReadStringArray(nullptr, 1), nex_TextException, "***ERROR: Invalid array pointer.");
  QVT_EXPECT_THROW_TEXT(io.WriteStringArray(nullptr, 1), nex_TextException, "***ERROR: Invalid array pointer.");
  for (int count : {0, -3}) {
    QVT_EXPECT_THROW_TEXT(io.ReadStringArray(&s, count), nex_TextException,
                          "***ERROR: Invalid length when reading array.");
    QVT_EXPECT_THROW_TEXT(io.WriteStringArray(&s, count), nex_TextException,
                          "***ERROR: Invalid length when reading array.");
  }
  QVT_EXPECT_THROW_TEXT(io.ReadStringArray(&s, INT_MAX / 8 + 1), nex_TextException,
                        "***ERROR: Invalid length when reading array.");
  EXPECT_EQ(io.Reads() + io.Writes(), 0);
  EXPECT_TRUE(io.Pool().Strings().empty());
}

TEST(PooledStrings, ShortWriteIsReported) {
  MemoryIOS io;
  io.LimitWritesFrom(1, 7);
  QVT_EXPECT_THROW_TEXT(io.WriteString("abc"), nex_TextException, "***ERROR: Write operation failed.");
  const cow_String two[2] = {"a", "b"};
  QVT_EXPECT_THROW_TEXT(io.WriteStringArray(two, 2), nex_TextException, "***ERROR: Write operation failed.");
}

}  // namespace
