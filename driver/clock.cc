#include "driver/clock.h"

#include <chrono>

namespace tarnaxel {
namespace {

const auto process_start = std::chrono::steady_clock::now();

}  // namespace

long clock_ticks() {
  auto elapsed = std::chrono::steady_clock::now() - process_start;
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace tarnaxel
