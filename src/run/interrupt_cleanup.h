// Removes unpublished temporary output files when the run is interrupted (Ctrl-C, kill), so
// that no temporary survives a run, whatever happened.
#ifndef TARNEL_RUN_INTERRUPT_CLEANUP_H_
#define TARNEL_RUN_INTERRUPT_CLEANUP_H_

#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

namespace tarnel::interrupt_cleanup {

/// Installs the handlers; the real entry point calls it once.
void install();

/// Notes a temporary file for removal on interruption; returns a ticket for `forget`, or -1
/// when it cannot be noted (then it is only removed by normal cleanup). Noted before the file
/// is created, so that no moment passes in which it exists unnoted.
int remember(const std::string& path);
void forget(int ticket);

/// Holds interruptions back while it lives, on the thread that handles them: the renames that
/// publish a species' files are then all done, or all undone, before the handler removes
/// anything. On Windows, where the handler runs on a thread of its own, it holds nothing back.
class Deferral {
 public:
  Deferral();
  ~Deferral();
  Deferral(const Deferral&) = delete;
  Deferral& operator=(const Deferral&) = delete;

 private:
#ifndef _WIN32
  sigset_t before_;
  bool held_ = false;
#endif
};

}  // namespace tarnel::interrupt_cleanup

#endif  // TARNEL_RUN_INTERRUPT_CLEANUP_H_
