// Threads that take work off the species loop.
#ifndef TARNEL_RUN_BACKGROUND_THREAD_H_
#define TARNEL_RUN_BACKGROUND_THREAD_H_

#include <functional>
#include <thread>

namespace tarnel {

/// Starts `work` on a thread that takes no signals, so that an interruption is always handled
/// on the main thread, which owns the temporaries. Throws std::system_error when no thread can
/// be started; callers then do the work themselves.
std::thread start_background_thread(std::function<void()> work);

}  // namespace tarnel

#endif  // TARNEL_RUN_BACKGROUND_THREAD_H_
