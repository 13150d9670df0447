// Removes unpublished temporary output files when the run is interrupted (Ctrl-C, kill), so
// that no temporary survives a run, whatever happened.
#ifndef TARNEL_BASE_INTERRUPT_CLEANUP_H_
#define TARNEL_BASE_INTERRUPT_CLEANUP_H_

#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

namespace tarnel::interrupt_cleanup {

/// How many temporaries can be noted at once: a species stages at most three files at a time,
/// and several species may be in flight.
inline constexpr int kCapacity = 1024;

/// Installs the handlers; the real entry point calls it once.
void install();

/// Notes a temporary file for removal on interruption; returns a ticket for `forget`, or -1
/// when it cannot be noted (then it is only removed by normal cleanup). Noted before the file
/// is created, so that no moment passes in which it exists unnoted.
int remember(const std::string& path);
void forget(int ticket);

/// Holds interruptions back while it lives: on this thread, which may be the one that handles
/// them, they are blocked; a handler running on another thread (a species thread's files are
/// handled on the main thread, and on Windows every handler runs on a thread of its own) waits
/// until no deferral is left before it removes anything. So the renames that publish a
/// species' files are all done, or all undone, and a temporary being made is either noted and
/// made or not made at all, before the handler removes anything.
class Deferral {
 public:
  Deferral();
  ~Deferral();
  Deferral(const Deferral&) = delete;
  Deferral& operator=(const Deferral&) = delete;

  /// True once an interruption is being handled: nothing more may be made or renamed, as the
  /// handler may have looked at the temporaries already.
  bool interrupted() const;

 private:
#ifndef _WIN32
  sigset_t before_;
  bool held_ = false;
#endif
};

}  // namespace tarnel::interrupt_cleanup

#endif  // TARNEL_BASE_INTERRUPT_CLEANUP_H_
