// Typed transfers make at most one scratch allocation per call, and scalars
// none, whatever the count.
#include <functional>
#include <vector>

#include "qvt_AllocationCounter.h"
#include "qvt_MemoryIOS.h"
#include <gtest/gtest.h>

QVT_DEFINE_ALLOCATION_COUNTER()

namespace {

using qvt_test::AllocationCount;

TEST(TypedStreamCost, ArrayCallsAllocateOnceAndScalarsNever) {
  qvt_test::MemoryIOS io;
  std::vector<double> values(10000, 1.5);
  std::vector<cow_String> strings(100, "same");
  io.WriteStringArray(strings.data(), 100);  // fills the pool once
  io.Bytes().reserve(200000);                // the stream's own growth is not measured
  const std::pair<int, std::function<void()>> calls[] = {
      {1, [&] { io.WriteDoubleArray(values.data(), 10000); }},
      {1, [&] { io.WriteStringArray(strings.data(), 100); }},
      {0,
       [&] {
         io.WriteInt(1);
         io.WriteFloat(2.0f);
         io.WriteDouble(3.0);
         io.WriteFixedString("abc", 8);
       }},
      {0, [&] { io.Seek(800); }},
      {1, [&] { EXPECT_EQ(io.ReadDoubleArray(values.data(), 10000), 10000); }},
      {0,
       [&] {
         io.ReadInt();
         io.ReadFloat();
         io.ReadDouble();
       }},
  };
  for (const auto& call : calls) {
    const long before = AllocationCount();
    call.second();
    EXPECT_EQ(AllocationCount() - before, call.first);
  }
  EXPECT_EQ(io.Reads(), 4);
}

}  // namespace
