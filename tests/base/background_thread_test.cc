#include "base/background_thread.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tarnel {
namespace {

// A helper's failure (a sort out of memory, say) must reach the species, not vanish with the
// thread.
TEST(BackgroundTaskTest, WaitThrowsWhatTheWorkThrew) {
  BackgroundTask task([] { throw std::runtime_error("helper failed"); });
  EXPECT_THROW(task.wait(), std::runtime_error);
}

}  // namespace
}  // namespace tarnel
