#include "run/background_thread.h"

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

}  // namespace tarnel
