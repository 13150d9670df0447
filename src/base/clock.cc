#include "base/clock.h"

#include <chrono>

namespace tarnel {

std::int64_t SteadyClock::now_millis() {
  const auto since_origin = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since_origin).count();
}

}  // namespace tarnel
