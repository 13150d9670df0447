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

}  // namespace tarnel::interrupt_cleanup

#endif  // TARNEL_RUN_INTERRUPT_CLEANUP_H_
