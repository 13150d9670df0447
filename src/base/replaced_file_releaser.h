// Lets go of the files that published outputs replaced, away from the species loop, and syncs
// the directories that name new outputs.
#ifndef TARNEL_BASE_REPLACED_FILE_RELEASER_H_
#define TARNEL_BASE_REPLACED_FILE_RELEASER_H_

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnel {

/// Renaming a new output over last run's file drops that file's last link, and the kernel
/// frees its blocks inside the rename. That can wait for the disk: on a file system mounted
/// with online discard every freed extent is trimmed before the rename returns, which took
/// more than half of a run over a hundred small species. So the old file is held open across
/// the rename, and a worker thread closes it: the freeing then overlaps the next species.
/// On hosts without a way to hold a file by its path, `hold` holds nothing.
/// The same worker flushes a directory to the disk when asked to, so that the renames in it
/// last: that can wait as long as a file's flush, and nothing needs to wait for it but the
/// end of the run.
class ReplacedFileReleaser {
 public:
  ReplacedFileReleaser() = default;
  ReplacedFileReleaser(const ReplacedFileReleaser&) = delete;
  ReplacedFileReleaser& operator=(const ReplacedFileReleaser&) = delete;
  /// Waits until every replaced file has been let go.
  ~ReplacedFileReleaser();

  /// A handle on the file at `path` as it is now, or -1 when there is none.
  static int hold(const std::string& path);
  /// Takes a handle from `hold`, of a file whose path now names another, and closes it later;
  /// with `sync_first`, a handle of a directory, flushed to the disk before it is closed.
  void release(int handle, bool sync_first = false);

 private:
  void close_pending();

  std::mutex mutex_;
  std::condition_variable wake_;
  struct Pending {
    int handle;
    bool sync_first;
  };
  std::deque<Pending> pending_;
  bool stopping_ = false;
  bool workers_failed_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tarnel

#endif  // TARNEL_BASE_REPLACED_FILE_RELEASER_H_
