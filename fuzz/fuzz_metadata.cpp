// Target: one table class's metadata record; each string reference reads as a name made of its own bytes.
#include <cstddef>
#include <cstdint>

#include "nex_Exception.h"
#include "qvt_MemoryIOS.h"
#include "qvt_TableMetadata.h"

namespace {

struct AnyNamePool : qvt_test::MemoryStringPool {
  void InternalizeStrings(const char* external, cow_String* strings, int count) override {
    for (int i = 0; i < count; ++i) strings[i] = cow_String(external + 8 * i, 2);
  }
};

struct BytesStream : qvt_test::MemoryIOS {
  qvt_StringManager& StringManager() override { return names; }
  AnyNamePool names;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BytesStream stream;
  stream.Bytes().assign(data, data + size);
  try {
    (void)qvt_TableMetadata(stream, 1).PresentFieldCount();
  } catch (const nex_Exception&) {
  }
  return 0;
}
