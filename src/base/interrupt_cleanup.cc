#include "base/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "base/windows_api.h"
#else
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tarnel::interrupt_cleanup {
namespace {

// A signal handler can only reach plain static storage, so this is the one place where the
// tool keeps process-wide state. Slots never touched cost no memory.
constexpr int kSlots = kCapacity;
constexpr std::size_t kPathBytes = 4096;
char slot_paths[kSlots][kPathBytes];

// Species on several threads claim slots at once. A claimed slot is only removed from once its
// path is complete: the handler may interrupt a claim half-way.
enum SlotState : int { kFree = 0, kFilling = 1, kHeld = 2 };
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");
std::atomic<int> slot_state[kSlots];

std::atomic<int> deferrals{0};  // alive, on every thread
std::atomic<bool> interrupting{false};

#ifndef _WIN32
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
#else
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGBREAK};  // SIGBREAK: Ctrl-Break
#endif

// Lets what other threads have begun under a deferral end first. No deferral is alive on the
// thread the handler interrupted, as it blocks the signals there; the bound is only a guard
// against a thread that never ends its deferral (a --sync flush that waits for a dead disk).
void wait_for_deferrals() {
#ifdef _WIN32
  for (int i = 0; i < 5000 && deferrals.load() != 0; ++i) Sleep(1);
#else
  const timespec pause{0, 1000000};
  for (int i = 0; i < 5000 && deferrals.load() != 0; ++i) nanosleep(&pause, nullptr);
#endif
}

extern "C" void remove_temporaries_and_reraise(int signal_number) {
  interrupting.store(true);
  wait_for_deferrals();
  for (int i = 0; i < kSlots; ++i) {
    if (slot_state[i].load() == kHeld) {
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
    int free = kFree;
    if (slot_state[i].compare_exchange_strong(free, kFilling)) {
      std::memcpy(slot_paths[i], path.c_str(), path.size() + 1);
      slot_state[i].store(kHeld);
      return i;
    }
  }
  return -1;
}

void forget(int ticket) {
  if (ticket >= 0 && ticket < kSlots) slot_state[ticket].store(kFree);
}

#ifndef _WIN32
Deferral::Deferral() {
  sigset_t interruptions;
  sigemptyset(&interruptions);
  for (const int signal_number : kInterruptions) sigaddset(&interruptions, signal_number);
  held_ = pthread_sigmask(SIG_BLOCK, &interruptions, &before_) == 0;
  // Counted before the flag is read: a handler that has not seen the count yet has raised the
  // flag already, or will wait for this deferral.
  deferrals.fetch_add(1);
}

// An interruption that came meanwhile is handled here, before this returns.
Deferral::~Deferral() {
  deferrals.fetch_sub(1);
  if (held_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}
#else
Deferral::Deferral() { deferrals.fetch_add(1); }
Deferral::~Deferral() { deferrals.fetch_sub(1); }
#endif

bool Deferral::interrupted() const { return interrupting.load(); }

}  // namespace tarnel::interrupt_cleanup
