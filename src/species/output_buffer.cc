#include "species/output_buffer.h"

#include <cerrno>
#include <system_error>

#include "base/background_thread.h"
#include "base/performance_switches.h"

namespace tarnel {

OutputBuffer::BlockWriter::BlockWriter(StagedFile& file) : file_(file) {
  block_.reserve(kBufferBytes);
  thread_ = start_background_thread([this] { write_blocks(); });
}

OutputBuffer::BlockWriter::~BlockWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void OutputBuffer::BlockWriter::hand(std::string& block) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !block_waiting_; });
  block_.swap(block);
  block.clear();
  block_waiting_ = true;
  changed_.notify_all();
}

bool OutputBuffer::BlockWriter::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !block_waiting_; });
  return ok_;
}

void OutputBuffer::BlockWriter::write_blocks() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return block_waiting_ || stopping_; });
    if (!block_waiting_) return;
    // The block stays put while it is written: `hand` waits for it.
    lock.unlock();
    const bool written = file_.write(block_);
    const int error = errno;
    lock.lock();
    if (!written && ok_) error_ = error;
    ok_ = ok_ && written;
    block_waiting_ = false;
    changed_.notify_all();
  }
}

OutputBuffer::~OutputBuffer() = default;

void OutputBuffer::pass_on(bool last) {
  if (bytes_.empty()) return;
  // A file of a block or two is written at once: a thread would cost more than it saves.
  if (performance::kBlockWriter && writer_ == nullptr && block_passed_ && !last && !no_helper_ &&
      (idle_threads_ == nullptr || idle_threads_->load() > 0)) {
    try {
      writer_ = std::make_unique<BlockWriter>(file_);
    } catch (const std::system_error&) {
      no_helper_ = true;  // stay with writing here
    }
  }
  block_passed_ = true;
  if (writer_ != nullptr) {
    writer_->hand(bytes_);
  } else {
    ok_ = file_.write(bytes_) && ok_;
    bytes_.clear();
  }
}

bool OutputBuffer::finish() {
  pass_on(/*last=*/true);
  int writer_error = 0;
  if (writer_ != nullptr) {
    // errno belongs to each thread: the reason of a failed block is the writer's to tell.
    if (!writer_->drain() && ok_) {
      ok_ = false;
      writer_error = writer_->error();
    }
    writer_.reset();
  }
  const bool finished = file_.finish();
  if (writer_error != 0) errno = writer_error;
  return finished && ok_;
}

}  // namespace tarnel
