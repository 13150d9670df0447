// Fakes for the seams of the tool (a scripted clock and a file system held in memory), and
// ways to run its parts over them.
#ifndef TARNEL_TESTS_TEST_SUPPORT_H_
#define TARNEL_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/file_system.h"

namespace tarnel::testing {

/// Returns the scripted readings in turn; the last one repeats. Species on several threads
/// may read it at once.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::vector<std::int64_t> readings = {0})
      : readings_(readings.begin(), readings.end()) {}
  std::int64_t now_millis() override {
    const std::lock_guard lock(mutex_);
    const std::int64_t now = readings_.front();
    if (readings_.size() > 1) readings_.pop_front();
    return now;
  }

 private:
  std::mutex mutex_;
  std::deque<std::int64_t> readings_;
};

/// A mutex that a copy of its owner does not share: each copy locks its own.
struct OwnMutex {
  OwnMutex() = default;
  OwnMutex(const OwnMutex&) {}
  OwnMutex& operator=(const OwnMutex&) { return *this; }
  std::mutex mutex;
};

/// Files as a map from path to bytes. Directories exist when listed; a file can be created only
/// in one that does. Failures can be injected per path; staged files only reach `files` when
/// published, all of a publication or none. Species on several threads may use it at once; the
/// tests read its members once the run is over.
class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> directories{""};
  std::set<std::string> read_error;     // reading fails after one block's worth
  std::set<std::string> write_error;    // writes fail
  std::set<std::string> full_once;      // the first file staged at the path meets a full disk
  std::set<std::string> publish_error;  // the final rename fails
  std::size_t block_bytes = 1 << 20;    // largest block a read returns
  int staged_alive = 0;                 // staged files not yet destroyed
  bool sync = false;                    // as last set
  OwnMutex guard;                       // over every member while a run goes on

  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override;
  std::unique_ptr<StagedFile> stage(const std::string& path) override;
  bool make_directories(const std::string& path) override;
  std::size_t publish(std::span<StagedFile* const> staged) override;
  void set_sync(bool on) override { sync = on; }
};

/// Three species of which the second is active; the third has no FASTA file.
MemoryFileSystem three_species();

/// The banner a run with these arguments prints first.
std::string banner(const std::vector<std::string>& arguments);

/// Runs the tool in-process; returns the exit code, fills `out` with the console text (and
/// `err`, when given, with what went to standard error).
int run_tool(const std::vector<std::string>& arguments, std::string& out, Clock& clock,
             FileSystem& files, std::string* err = nullptr);

/// Reads a file of these bytes with the FASTA reader, the file system handing out at most
/// `block_bytes` at a time (and failing after the first block if `read_error`). Returns a line
/// per record, "identifier|sequence|offset|line", or the reader's message when it fails.
std::string read_fasta_bytes(const std::string& bytes, std::size_t block_bytes,
                             bool read_error = false);

}  // namespace tarnel::testing

#endif  // TARNEL_TESTS_TEST_SUPPORT_H_
