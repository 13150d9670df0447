// Fakes for the seams of the tool (a scripted clock and a file system held in memory), and
// ways to run its parts over them.
#ifndef TARNEL_TESTS_TEST_SUPPORT_H_
#define TARNEL_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/file_system.h"
#include "memory_file_system.h"

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
