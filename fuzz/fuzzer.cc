// The libFuzzer entry of every target: TARNAXEL_FUZZ_CHECK names the check
// of fuzz/checks.h that the target runs on each input.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string broken = tarnaxel::fuzz::TARNAXEL_FUZZ_CHECK(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "broken invariant: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
