// Arrays against an in-memory model: seeded random runs of writes, seeks,
// reads of every size (through the block and past it), truncations and
// flushes, for several buffer sizes, then a reopen that must show the same
// rows. Also the edges where reads past the block meet the end of a space.
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_ArrayRepr.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

struct ModelCase {
  qvt_Type type;
  int fieldCount;
  int bufferSize;
};

template <class T>
void RunModel(DatabaseFiles& files, const ModelCase& c, unsigned seed) {
  SCOPED_TRACE("seed " + std::to_string(seed) + ", buffer " + std::to_string(c.bufferSize));
  std::mt19937 rng(seed);
  const int fc = c.fieldCount;
  std::vector<T> model;      // every stored value, row after row
  std::size_t position = 0;  // in rows
  qvt_Handle handle;
  {
    auto db = files.Create();
    qvt_ArrayRepr a(db.get(), c.type, fc, 0, c.bufferSize);
    handle = a.Handle();
    for (int step = 0; step < 400; ++step) {
      const std::size_t rows = model.size() / static_cast<std::size_t>(fc);
      const int op = static_cast<int>(rng() % 10);
      if (op < 4) {
        const int count = 1 + static_cast<int>(rng() % (rng() % 4 == 0 ? 700 : 20));
        std::vector<T> values(static_cast<std::size_t>(count * fc));
        for (T& v : values) v = static_cast<T>(static_cast<int>(rng() % 100000) - 50000) / 4;
        ASSERT_EQ(a.Write(values.data(), count), count);
        const std::size_t at = position * static_cast<std::size_t>(fc);
        if (model.size() < at + values.size()) model.resize(at + values.size());
        std::copy(values.begin(), values.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
        position += static_cast<std::size_t>(count);
      } else if (op < 7) {
        const int count = 1 + static_cast<int>(rng() % (rng() % 3 == 0 ? 900 : 30));
        std::vector<T> back(static_cast<std::size_t>(count * fc) + 1, static_cast<T>(-7));
        const std::size_t available = (rows - position) * static_cast<std::size_t>(fc);
        const std::size_t expected = std::min(available, static_cast<std::size_t>(count * fc));
        ASSERT_EQ(a.Read(back.data(), count), static_cast<int>(expected)) << "step " << step;
        const std::size_t at = position * static_cast<std::size_t>(fc);
        for (std::size_t i = 0; i < expected; ++i) ASSERT_EQ(back[i], model[at + i]) << "step " << step;
        ASSERT_EQ(back[expected], static_cast<T>(-7)) << "step " << step;  // nothing beyond is touched
        position += expected / static_cast<std::size_t>(fc);
      } else if (op < 9) {
        position = rows == 0 ? 0 : rng() % (rows + 1);
        a.Seek(static_cast<int>(position));
      } else if (rng() % 4 == 0) {
        const std::size_t keep = rows == 0 ? 0 : rng() % (rows + 1);
        a.Truncate(static_cast<int>(keep));
        model.resize(std::min(model.size(), keep * static_cast<std::size_t>(fc)));
        position = 0;
      } else {
        a.Flush();
      }
      ASSERT_EQ(a.Length(), static_cast<int>(model.size() / static_cast<std::size_t>(fc))) << "step " << step;
      ASSERT_EQ(a.Location(), static_cast<int>(position)) << "step " << step;
    }
    a.Flush();
  }
  auto db = files.Open();
  qvt_ArrayRepr a(db.get(), handle, 0, c.bufferSize);
  const int rows = static_cast<int>(model.size()) / fc;
  ASSERT_EQ(a.Length(), rows);
  std::vector<T> back(model.size() + 1);
  if (rows > 0) {
    ASSERT_EQ(a.Read(back.data(), rows + 1), static_cast<int>(model.size()));
  }
  back.pop_back();
  EXPECT_TRUE(back == model);
}

class ArrayModelTest : public KindTest {};

TEST_P(ArrayModelTest, RandomOperationsMatchTheModel) {
  const ModelCase cases[] = {{qvt_TypeInt, 1, 8},     {qvt_TypeInt, 3, 20},    {qvt_TypeFloat, 2, 0},
                             {qvt_TypeDouble, 1, 16}, {qvt_TypeDouble, 5, 64}, {qvt_TypeInt, 4, 4096}};
  unsigned seed = 20240601;
  for (const ModelCase& c : cases) {
    DatabaseFiles files(GetParam());
    if (c.type == qvt_TypeInt) RunModel<int>(files, c, seed++);
    if (c.type == qvt_TypeFloat) RunModel<float>(files, c, seed++);
    if (c.type == qvt_TypeDouble) RunModel<double>(files, c, seed++);
  }
}

// A writer stopped mid-row, then mid-value, as a damaged file could end:
// the length is the nearest whole row count, and reads through the block
// or past it deliver whole values only; past the end of the space they
// fail alike.
TEST_P(ArrayModelTest, PartialLastRowDeliversItsWholeValues) {
  auto db = Files().Create();
  qvt_ArrayRepr a(db.get(), qvt_TypeInt, 3, 0, 0);
  const int v[] = {1, 2, 3};
  a.Write(v, 1);
  a.Flush();
  {
    std::unique_ptr<qvt_SpaceRepr> space(db->Space(a.Handle(), -1));
    space->Seek(space->Length());
    space->WriteIntArray(v, 2);
    space->Write("xy", 2);
  }
  for (int bufferSize : {0, 8, 64}) {
    qvt_ArrayRepr b(db.get(), a.Handle(), 0, bufferSize);
    EXPECT_EQ(b.Length(), 2);
    int back[12];
    std::fill(back, back + 12, -1);
    EXPECT_EQ(b.Read(back, 3), 5);
    EXPECT_EQ(std::vector<int>(back, back + 6), (std::vector<int>{1, 2, 3, 1, 2, -1}));
    EXPECT_EQ(b.Location(), 2);
    EXPECT_EQ(b.Read(back, 3), 0);
    b.Seek(5);
    QVT_EXPECT_THROW_TEXT(
        b.Read(back, 1), nex_TextException,
        "***ERROR: Invalid seek offset: 76.000000.  This is usually caused by depletion of free "
        "space on the filesystem on which the ODB file is being built.");
  }
}

// A buffer larger than one step of a direct read: the read is split into
// steps and every value lands where it belongs.
TEST_P(ArrayModelTest, LargeReadsThroughALargeBuffer) {
  auto db = Files().Create();
  qvt_ArrayRepr a(db.get(), qvt_TypeDouble, 3, 0, 1048576);
  std::vector<double> values(3 * 100003);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i) - 0.5;
  a.Write(values.data(), 100003);
  a.Seek(7);
  std::vector<double> back(values.size(), -1.0);
  EXPECT_EQ(a.Read(back.data(), 100003), 3 * (100003 - 7));
  EXPECT_TRUE(std::equal(back.begin(), back.end() - 21, values.begin() + 21));
  EXPECT_EQ(back[back.size() - 21], -1.0);
  EXPECT_EQ(a.Location(), 100003);
  a.Flush();
  qvt_ArrayRepr b(db.get(), a.Handle(), 0, 1048576);
  EXPECT_EQ(b.Read(back.data(), 100003), 3 * 100003);
  EXPECT_TRUE(back == values);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayModelTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

}  // namespace
