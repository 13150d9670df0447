// Fakes for the seams of the tool: a scripted clock, and a file system held in memory.
#ifndef TARNEL_TESTS_TEST_SUPPORT_H_
#define TARNEL_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "base/clock.h"
#include "memory_file_system.h"

namespace tarnel::testing {

/// Returns the scripted readings in turn; the last one repeats. Species on several threads
/// may read it at once.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::vector<std::int64_t> readings = {0})
      : readings_(readings.begin(), readings.end()) {}
  std::int64_t now_millis() override {
    const std::lock_guard lock(mutex_);
    const std::int64_t now = readings_.front();
    if (readings_.size() > 1) readings_.pop_front();
    return now;
  }

 private:
  std::mutex mutex_;
  std::deque<std::int64_t> readings_;
};

}  // namespace tarnel::testing

#endif  // TARNEL_TESTS_TEST_SUPPORT_H_
