// The run's one millisecond clock. It reaches the driver as a parameter so that tests can
// script every reading.
#ifndef TARNEL_BASE_CLOCK_H_
#define TARNEL_BASE_CLOCK_H_

#include <cstdint>

namespace tarnel {

class Clock {
 public:
  virtual ~Clock() = default;
  /// Milliseconds since a fixed origin; never goes backwards. 64 bits, so a run of any length
  /// reports a sensible time.
  virtual std::int64_t now_millis() = 0;
};

/// The host's monotonic clock.
class SteadyClock final : public Clock {
 public:
  std::int64_t now_millis() override;
};

}  // namespace tarnel

#endif  // TARNEL_BASE_CLOCK_H_
