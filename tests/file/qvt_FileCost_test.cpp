// Local transfers allocate nothing per call, and closing the last handle
// releases the operating-system file.
#include <filesystem>

#include "qvt_AllocationCounter.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

QVT_DEFINE_ALLOCATION_COUNTER()

namespace {

using qvt_test::AllocationCount;

TEST(LocalFileCost, ReadWriteSeekAndScalarsAllocateNothing) {
  qvt_test::ScratchDir dir;
  qvt_File f = qvt_File::Open(dir.File("a.odb"), 2, false);
  qvt_FileRepr* r = f.Repr();
  char buf[4096] = {};
  const long before = AllocationCount();
  for (int i = 0; i < 100; ++i) {
    r->Write(buf, sizeof buf);
    r->Seek(r->Location());
    r->WriteInt(i);
    r->WriteDouble(i);
  }
  r->Seek(0);
  for (int i = 0; i < 100; ++i) r->Read(buf, 100);
  r->ExtendFile(100);
  r->WriteSizeRecord(500);
  r->CheckSizeRecord(500);
  EXPECT_EQ(AllocationCount() - before, 0);
}

std::size_t OpenDescriptors() {
  std::size_t n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
       it != std::filesystem::directory_iterator(); ++it)
    ++n;
  return n;
}

TEST(LocalFileCost, LastHandleClosesTheFile) {
  qvt_test::ScratchDir dir;
  qvt_File::Open(dir.File("a.odb"), 2, false);
  const std::size_t before = OpenDescriptors();
  for (int i = 0; i < 200; ++i) {
    qvt_File a = qvt_File::Open(dir.File("a.odb"), i % 2, false);
    qvt_File c;
    c = a;
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
