// Threads that take work off the species loop.
#ifndef TARNEL_BASE_BACKGROUND_THREAD_H_
#define TARNEL_BASE_BACKGROUND_THREAD_H_

#include <exception>
#include <functional>
#include <thread>

namespace tarnel {

/// Starts `work` on a thread that takes no signals, so that an interruption is always handled
/// on the main thread, which owns the temporaries. Throws std::system_error when no thread can
/// be started; callers then do the work themselves.
std::thread start_background_thread(std::function<void()> work);

/// Lets a background thread take the signal raised by a write to a pipe whose reader has gone,
/// as the main thread does: a species thread writes to the console too, and the run must end
/// there as it would on the main thread. The signal goes to the thread that wrote.
void take_broken_pipe_signal();

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

#endif  // TARNEL_BASE_BACKGROUND_THREAD_H_
