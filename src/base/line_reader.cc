#include "base/line_reader.h"

#include <cstring>

namespace tarnel {
namespace {

// Large blocks keep system calls rare; the extra line's worth of room lets a partial line be
// carried to the front and still leave a whole block to read behind it.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kBufferBytes = kBlockBytes + kMaxLineBytes + 1;

}  // namespace

LineReader::LineReader(std::unique_ptr<ByteSource> source)
    : source_(std::move(source)), buffer_(new char[kBufferBytes]) {}

std::size_t LineReader::find_from(std::size_t begin, char byte) const {
  if (begin >= filled_) return filled_;
  const void* found = std::memchr(buffer_.get() + begin, byte, filled_ - begin);
  return found == nullptr
             ? filled_
             : static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.get());
}

void LineReader::locate_specials(std::size_t begin) {
  if (!specials_known_ || next_cr_ < begin) next_cr_ = find_from(begin, '\r');
  if (!specials_known_ || next_nul_ < begin) next_nul_ = find_from(begin, '\0');
  specials_known_ = true;
}

bool LineReader::is_plain(std::size_t begin, std::size_t end) {
  locate_specials(begin);
  return next_nul_ >= end && next_cr_ + 1 >= end;
}

bool LineReader::refill() {
  if (source_ended_ || source_failed_) return false;
  specials_known_ = false;  // bytes move and more arrive
  if (next_ > 0) {
    const std::size_t kept = filled_ - next_;
    std::memmove(buffer_.get(), buffer_.get() + next_, kept);
    consumed_ += next_;
    next_ = 0;
    filled_ = kept;
  }
  const std::ptrdiff_t got = source_->read(buffer_.get() + filled_, kBufferBytes - filled_);
  if (got < 0) {
    source_failed_ = true;
    return false;
  }
  if (got == 0) {
    source_ended_ = true;
    return false;
  }
  filled_ += static_cast<std::size_t>(got);
  return true;
}

LineRead LineReader::read_line() {
  std::size_t scanned = 0;  // bytes after next_ known to hold no line feed
  for (;;) {
    const std::size_t available = filled_ - next_;
    // A line feed is acceptable up to just after the longest line.
    const std::size_t window = available < kMaxLineBytes + 1 ? available : kMaxLineBytes + 1;
    const char* start = buffer_.get() + next_;
    if (window > scanned) {
      const void* lf = std::memchr(start + scanned, '\n', window - scanned);
      if (lf != nullptr) {
        const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
        const bool plain = is_plain(next_, next_ + length);
        next_ += length + 1;
        return {ReadStatus::kLine, {start, length}, plain};
      }
      scanned = window;
    }
    if (available > kMaxLineBytes) {
      // 65,535 bytes taken and the next one is not a line feed.
      return {ReadStatus::kTooLong, {start, kMaxLineBytes}, false};
    }
    if (!refill()) {
      start = buffer_.get() + next_;
      const std::size_t rest = filled_ - next_;
      if (source_failed_) {
        next_ = filled_;
        return {ReadStatus::kReadError, {start, rest}, false};
      }
      const bool plain = is_plain(next_, filled_);
      next_ = filled_;
      end_reached_ = true;
      return {rest == 0 ? ReadStatus::kEndOfFile : ReadStatus::kLine, {start, rest}, plain};
    }
  }
}

}  // namespace tarnel
