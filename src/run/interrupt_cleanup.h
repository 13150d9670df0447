// Removes unpublished temporary output files when the run is interrupted (Ctrl-C, kill), so
// that no temporary survives a run, whatever happened.
#ifndef TARNEL_RUN_INTERRUPT_CLEANUP_H_
#define TARNEL_RUN_INTERRUPT_CLEANUP_H_

#include <string>

namespace tarnel::interrupt_cleanup {

/// How many temporaries can be noted at once: a species stages at most three files at a time,
/// and several species may be in flight.
inline constexpr int kCapacity = 1024;

/// Installs the handlers; the real entry point calls it once.
void install();

/// Notes a temporary file for removal on interruption; returns a ticket for `forget`, or -1
/// when it cannot be noted (then it is only removed by normal cleanup).
int remember(const std::string& path);
void forget(int ticket);

/// Held while a temporary file is created and remembered. Species on other threads go on while
/// an interruption is handled: it waits until no guard is held before it removes what is
/// remembered, and once it has begun no guard allows a file to be made. So a temporary made on
/// another thread is either remembered in time or never made.
class CreationGuard {
 public:
  CreationGuard();
  ~CreationGuard();
  CreationGuard(const CreationGuard&) = delete;
  CreationGuard& operator=(const CreationGuard&) = delete;
  /// False once an interruption is being handled: the file must not be made.
  bool allowed() const { return allowed_; }

 private:
  bool allowed_;
};

}  // namespace tarnel::interrupt_cleanup

#endif  // TARNEL_RUN_INTERRUPT_CLEANUP_H_
