// The run's clock: milliseconds since the process started.
#pragma once

namespace tarnaxel {

long clock_ticks();
constexpr double kTicksPerSecond = 1000.0;

}  // namespace tarnaxel
