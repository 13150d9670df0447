#include "base/background_thread.h"

#include <system_error>
#include <utility>

#ifndef _WIN32
#include <signal.h>
#endif

namespace tarnel {

std::thread start_background_thread(std::function<void()> work) {
#ifndef _WIN32
  // A new thread inherits the mask of the thread that starts it.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    std::thread started(std::move(work));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    throw;
  }
#else
  return std::thread(std::move(work));
#endif
}

void take_broken_pipe_signal() {
#ifndef _WIN32
  sigset_t broken_pipe;
  sigemptyset(&broken_pipe);
  sigaddset(&broken_pipe, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &broken_pipe, nullptr);
#endif
}

BackgroundTask::BackgroundTask(std::function<void()> work) : work_(std::move(work)) {
  try {
    thread_ = start_background_thread([this] {
      try {
        work_();
      } catch (...) {
        failure_ = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: the work is done by wait().
  }
}

BackgroundTask::~BackgroundTask() {
  if (thread_.joinable()) thread_.join();
}

void BackgroundTask::wait() {
  if (thread_.joinable()) {
    thread_.join();
    work_ = nullptr;
  } else if (work_) {
    std::exchange(work_, nullptr)();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace tarnel
