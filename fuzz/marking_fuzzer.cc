// libFuzzer target: see check_marking in fuzz/checks.h.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string broken = tarnaxel::fuzz::check_marking(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "broken invariant: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
