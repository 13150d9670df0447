// Temporaries that a run killed outright left behind. SIGKILL (the out-of-memory killer, a batch
// system's time limit) runs no handler, so nothing removes them then; a later run that writes
// into the same directory does, once they are certainly stale.
#ifndef TARNEL_BASE_STALE_TEMPORARIES_H_
#define TARNEL_BASE_STALE_TEMPORARIES_H_

#include <mutex>
#include <set>
#include <string>

namespace tarnel {

/// A directory entry is stale when all of these hold:
///  - it is a regular file itself (a link is never followed nor removed);
///  - its whole name is one that this tool gives its temporaries, `.tn<pid>-<count>` with both
///    numbers in lower-case base 36;
///  - it has not been modified for ten minutes: a temporary being written is touched
///    continuously, and a directory shared over the network may hold the live temporary of a
///    run on another host, whose process number tells nothing here;
///  - its process number is not this process's and names no process running on this host.
class StaleTemporaries {
 public:
  /// Removes the stale temporaries of `directory` (empty for the working directory, otherwise
  /// ending with a separator) the first time it is named: one scan per directory and run.
  /// Failures are ignored, so that cleaning up never fails a species. Species on several
  /// threads may call it at once; the first to name a directory scans it.
  void remove_once(const std::string& directory);

 private:
  std::mutex mutex_;
  std::set<std::string> scanned_;
};

}  // namespace tarnel

#endif  // TARNEL_BASE_STALE_TEMPORARIES_H_
