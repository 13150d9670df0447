#include "base/replaced_file_releaser.h"

#include <fcntl.h>

#include <cerrno>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "base/background_thread.h"
#include "base/performance_switches.h"

namespace tarnel {
namespace {

// Beyond this many, the caller closes handles itself rather than let them pile up.
constexpr std::size_t kMostPending = 64;
constexpr std::size_t kMostWorkers = performance::kReleaser ? 4 : 0;
constexpr std::size_t kPendingPerWorker = 4;

// Nobody is left to hear of a failed flush: the species it served has been reported.
void close_handle(int handle, bool sync_first) {
#ifndef _WIN32
  if (sync_first) {
    while (fsync(handle) != 0 && errno == EINTR) {
    }
  }
  close(handle);  // never repeated: Linux has let go of the handle even when interrupted
#else
  (void)handle;
  (void)sync_first;
#endif
}

}  // namespace

int ReplacedFileReleaser::hold(const std::string& path) {
#if defined(O_PATH) && !defined(_WIN32)
  if (!performance::kReleaser) return -1;  // the removal then frees the file where it happens
  // A path-only handle: no permission needed, and a FIFO or device at the path is not opened.
  return open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
  (void)path;
  return -1;
#endif
}

void ReplacedFileReleaser::release(int handle, bool sync_first) {
  if (handle < 0) return;
  {
    std::unique_lock lock(mutex_);
    // Another worker once the backlog grows: each close waits for the disk, and several
    // species in flight replace files faster than one worker lets them go. The disk takes
    // several at once.
    if (!workers_failed_ && workers_.size() < kMostWorkers &&
        pending_.size() >= kPendingPerWorker * workers_.size()) {
      try {
        workers_.push_back(start_background_thread([this] { close_pending(); }));
      } catch (const std::system_error&) {
        workers_failed_ = true;
      }
    }
    if (!workers_.empty() && pending_.size() < kMostPending) {
      pending_.push_back({handle, sync_first});
      wake_.notify_one();
      return;
    }
  }
  close_handle(handle, sync_first);
}

void ReplacedFileReleaser::close_pending() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, and nothing left
    // One at a time, so that the other workers share the backlog.
    const Pending pending = pending_.front();
    pending_.pop_front();
    lock.unlock();
    close_handle(pending.handle, pending.sync_first);
    lock.lock();
  }
}

ReplacedFileReleaser::~ReplacedFileReleaser() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

}  // namespace tarnel
