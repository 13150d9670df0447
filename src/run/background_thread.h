// Threads that take work off the species loop.
#ifndef TARNEL_RUN_BACKGROUND_THREAD_H_
#define TARNEL_RUN_BACKGROUND_THREAD_H_

#include <exception>
#include <functional>
#include <thread>

namespace tarnel {

/// Starts `work` on a thread that takes no signals, so that an interruption is always handled
/// on the main thread, which owns the temporaries. Throws std::system_error when no thread can
/// be started; callers then do the work themselves.
std::thread start_background_thread(std::function<void()> work);

/// Work done beside the caller's own: on a background thread when one can be started, else
/// by `wait` itself. Whatever the work throws is thrown again by `wait`.
class BackgroundTask {
 public:
  explicit BackgroundTask(std::function<void()> work);
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;
  /// Waits for the work, which may use what the caller holds until then.
  ~BackgroundTask();

  /// Waits until the work is done, or does it; rethrows what it threw.
  void wait();

 private:
  std::function<void()> work_;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace tarnel

#endif  // TARNEL_RUN_BACKGROUND_THREAD_H_
