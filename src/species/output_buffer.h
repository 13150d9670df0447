// Collects an output file's bytes in memory and hands them to the staged file in large blocks,
// so that writing costs a system call per megabyte rather than one per line.
#ifndef TARNEL_SPECIES_OUTPUT_BUFFER_H_
#define TARNEL_SPECIES_OUTPUT_BUFFER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "base/file_system.h"

namespace tarnel {

class OutputBuffer {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  /// `idle_threads`, when given, counts the threads of a run with species side by side that
  /// wait for work: the blocks are only written on a thread of their own while one does.
  explicit OutputBuffer(StagedFile& file, const std::atomic<std::int32_t>* idle_threads = nullptr)
      : file_(file), idle_threads_(idle_threads) {
    bytes_.reserve(kBufferBytes);
  }
  OutputBuffer(OutputBuffer&&) = default;
  ~OutputBuffer();

  /// The bytes not yet handed on; writers append to it and then call `pass_full_blocks`.
  std::string& bytes() { return bytes_; }
  void pass_full_blocks() {
    if (bytes_.size() >= kBlockBytes) pass_on(/*last=*/false);
  }
  /// Hands on the rest and closes the file; false if any write or the close failed, with the
  /// system's reason for the first failure in errno.
  bool finish();

 private:
  // A block and the tail of the last line or line group that filled it.
  static constexpr std::size_t kBufferBytes = kBlockBytes + 4096;

  // Writes the blocks of a large file on its own thread, one block behind the formatting.
  // Copying into the system's file cache is the dearest part of writing a large species, and
  // it then overlaps the formatting of the next block.
  class BlockWriter {
   public:
    explicit BlockWriter(StagedFile& file);
    ~BlockWriter();
    /// Swaps `block` for the one written before it (emptied), once that one is written.
    void hand(std::string& block);
    /// Waits until every block handed is written; false if any write failed.
    bool drain();
    /// The system's error code of the first write that failed, taken on the writing thread.
    int error() const { return error_; }

   private:
    void write_blocks();

    StagedFile& file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string block_;
    bool block_waiting_ = false;
    bool stopping_ = false;
    bool ok_ = true;
    int error_ = 0;
    std::thread thread_;
  };

  // `last`: nothing follows, so no thread is started for it.
  void pass_on(bool last);

  StagedFile& file_;
  const std::atomic<std::int32_t>* idle_threads_;
  std::string bytes_;
  bool ok_ = true;
  bool block_passed_ = false;  // a first block went to the file
  bool no_helper_ = false;     // a helper thread could not be started
  std::unique_ptr<BlockWriter> writer_;
};

}  // namespace tarnel

#endif  // TARNEL_SPECIES_OUTPUT_BUFFER_H_
