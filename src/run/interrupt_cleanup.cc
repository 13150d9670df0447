#include "run/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
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

std::atomic<int> creations{0};  // guards held
std::atomic<bool> interrupted{false};

// Lets the creations under way on other threads be remembered. The thread interrupted may
// hold a guard itself and never resumes while this runs, so the wait is bounded.
void wait_for_creations() {
#ifdef _WIN32
  for (int i = 0; i < 200 && creations.load() != 0; ++i) Sleep(1);
#else
  const timespec pause{0, 100000};
  for (int i = 0; i < 2000 && creations.load() != 0; ++i) nanosleep(&pause, nullptr);
#endif
}

extern "C" void remove_temporaries_and_reraise(int signal_number) {
  interrupted.store(true);
  wait_for_creations();
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
#ifdef _WIN32
  std::signal(signal_number, remove_temporaries_and_reraise);
#else
  struct sigaction before;
  if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) return;
  std::signal(signal_number, remove_temporaries_and_reraise);
#endif
}

}  // namespace

void install() {
  catch_unless_ignored(SIGINT);
  catch_unless_ignored(SIGTERM);
#ifdef _WIN32
  catch_unless_ignored(SIGBREAK);  // Ctrl-Break in a console window
#else
  catch_unless_ignored(SIGHUP);
  catch_unless_ignored(SIGQUIT);
  // A console piped into a reader that quits (`tarnel ... | head`) ends the run here.
  catch_unless_ignored(SIGPIPE);
#endif
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

CreationGuard::CreationGuard() {
  // Counted before the flag is read: a handler that has not yet seen the count has already
  // raised the flag, or will wait for this guard.
  creations.fetch_add(1);
  allowed_ = !interrupted.load();
}

CreationGuard::~CreationGuard() { creations.fetch_sub(1); }

}  // namespace tarnel::interrupt_cleanup
