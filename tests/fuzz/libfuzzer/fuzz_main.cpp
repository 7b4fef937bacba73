// libFuzzer entry of one fuzz target: the build compiles this file once per
// target with TALVEX_FUZZ_ENTRY naming the target's function.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return TALVEX_FUZZ_ENTRY(data, size);
}
