#include "run/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace tarnel::interrupt_cleanup {
namespace {

// A signal handler can only reach plain static storage, so this is the one place where the
// tool keeps process-wide state. A species stages at most three files at a time.
constexpr int kSlots = 8;
constexpr std::size_t kPathBytes = 4096;
char slot_paths[kSlots][kPathBytes];
volatile std::sig_atomic_t slot_in_use[kSlots];

#ifndef _WIN32
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
#else
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGBREAK};  // SIGBREAK: Ctrl-Break
#endif

extern "C" void remove_temporaries_and_reraise(int signal_number) {
  for (int i = 0; i < kSlots; ++i) {
    if (slot_in_use[i] != 0) {
#ifdef _WIN32
      std::remove(slot_paths[i]);
#else
      unlink(slot_paths[i]);
#endif
    }
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

namespace {

// A signal the run was started with ignored stays ignored: `nohup` ignores SIGHUP so that the
// run outlives its terminal, and a caller that ignores SIGPIPE wants a failed console write to
// be reported, not to end the run.
void catch_unless_ignored(int signal_number) {
#ifndef _WIN32
  struct sigaction before;
  if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) return;
#endif
  std::signal(signal_number, remove_temporaries_and_reraise);
}

}  // namespace

// SIGPIPE is among them: a console piped into a reader that quits (`tarnel ... | head`) ends
// the run here.
void install() {
  for (const int signal_number : kInterruptions) catch_unless_ignored(signal_number);
}

int remember(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (slot_in_use[i] == 0) {
      std::memcpy(slot_paths[i], path.c_str(), path.size() + 1);
      // The handler must never see the slot in use before its path is complete.
      std::atomic_signal_fence(std::memory_order_release);
      slot_in_use[i] = 1;
      return i;
    }
  }
  return -1;
}

void forget(int ticket) {
  if (ticket >= 0 && ticket < kSlots) slot_in_use[ticket] = 0;
}

#ifndef _WIN32
Deferral::Deferral() {
  sigset_t interruptions;
  sigemptyset(&interruptions);
  for (const int signal_number : kInterruptions) sigaddset(&interruptions, signal_number);
  held_ = pthread_sigmask(SIG_BLOCK, &interruptions, &before_) == 0;
}

// An interruption that came meanwhile is handled here, before this returns.
Deferral::~Deferral() {
  if (held_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}
#else
Deferral::Deferral() = default;
Deferral::~Deferral() = default;
#endif

}  // namespace tarnel::interrupt_cleanup
