// Typed transfers make at most one scratch allocation per call, and scalars
// none, whatever the count.
#include <gtest/gtest.h>

#include <vector>

#include "qvt_AllocationCounter.h"
#include "qvt_MemoryIOS.h"

QVT_DEFINE_ALLOCATION_COUNTER()

namespace {

using qvt_test::AllocationCount;
using qvt_test::MemoryIOS;

TEST(TypedStreamCost, ArrayCallsAllocateOnceAndScalarsNever) {
  MemoryIOS io;
  std::vector<double> values(10000, 1.5);
  io.Bytes().reserve(200000);  // the stream's own growth is not measured
  long before = AllocationCount();
  io.WriteDoubleArray(values.data(), 10000);
  EXPECT_EQ(AllocationCount() - before, 1);
  before = AllocationCount();
  io.WriteInt(1);
  io.WriteFloat(2.0f);
  io.WriteDouble(3.0);
  io.WriteFixedString("abc", 8);
  EXPECT_EQ(AllocationCount() - before, 0);
  io.Seek(0);
  before = AllocationCount();
  EXPECT_EQ(io.ReadDoubleArray(values.data(), 10000), 10000);
  EXPECT_EQ(AllocationCount() - before, 1);
  before = AllocationCount();
  io.ReadInt();
  io.ReadFloat();
  io.ReadDouble();
  EXPECT_EQ(AllocationCount() - before, 0);
  EXPECT_EQ(io.Reads(), 4);
}

TEST(TypedStreamCost, PooledStringArraysAllocateOneScratchBlock) {
  MemoryIOS io;
  std::vector<cow_String> strings(100, "same");
  io.WriteStringArray(strings.data(), 100);  // fills the pool once
  io.Seek(0);
  io.Bytes().reserve(4096);
  const long before = AllocationCount();
  io.WriteStringArray(strings.data(), 100);
  EXPECT_EQ(AllocationCount() - before, 1);
}

}  // namespace
