// Reads input files line by line through large blocks. A line holds at most 65,535 bytes before
// its line feed; the line feed is consumed and not delivered.
#ifndef TARNEL_BASE_LINE_READER_H_
#define TARNEL_BASE_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "base/file_system.h"

namespace tarnel {

inline constexpr std::size_t kMaxLineBytes = 65535;

enum class ReadStatus {
  kLine,       // a line was delivered (at the end of the file it may be empty: see kEndOfFile)
  kEndOfFile,  // the end of the file was met before any byte: the delivered line is empty
  kTooLong,    // 65,535 bytes were taken and more followed before a line feed
  kReadError,  // the source reported an error
};

struct LineRead {
  ReadStatus status;
  /// The bytes read, without the line feed. For kTooLong, the first 65,535 bytes. Valid until
  /// the next read.
  std::string_view bytes;
  /// True when the bytes hold no NUL and no carriage return except as their last byte: the
  /// line's text is then the bytes less that one carriage return, with nothing else to look for.
  bool plain = false;

  bool failed() const { return status != ReadStatus::kLine; }
};

/// The reader behind every input file of a run. Lines are handed out as views into a block
/// buffer; only a line that straddles two blocks is moved, and never more than the line limit
/// is held for one line.
class LineReader {
 public:
  explicit LineReader(std::unique_ptr<ByteSource> source);

  /// After a failed read nothing more may be read.
  LineRead read_line();
  /// Hands `take` each of the lines that follow, for as long as they are plain lines whose
  /// first byte is neither a line feed nor `stop`, ended by a line feed already in the buffer.
  /// Returns how many it took; read_line reads on from the first line not taken. A run of
  /// ordinary lines thus costs one search each, and nothing else per line.
  template <class Take>
  std::int64_t take_plain_lines(char stop, Take&& take);
  /// True once a read has met the end of the file, whether or not it delivered bytes.
  bool end_reached() const { return end_reached_; }
  /// Byte position in the stream of the next line to be read.
  std::uint64_t position() const { return consumed_ + static_cast<std::uint64_t>(next_); }

 private:
  // Reads more bytes after those not yet delivered; false at the end of the source or on error.
  bool refill();
  // Whether buffer_[begin, end) is plain (see LineRead). Searches the buffer for the next
  // carriage return and NUL only when the last ones found lie behind `begin`: most blocks hold
  // neither, and then each is searched for once per block instead of once per line.
  bool is_plain(std::size_t begin, std::size_t end);
  // Brings next_cr_ and next_nul_ up to `begin` (see is_plain).
  void locate_specials(std::size_t begin);
  std::size_t find_from(std::size_t begin, char byte) const;

  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<char[]> buffer_;
  std::size_t next_ = 0;        // first byte not yet delivered
  std::size_t filled_ = 0;      // end of the valid bytes
  std::uint64_t consumed_ = 0;  // stream position of buffer_[0]
  bool source_ended_ = false;
  bool source_failed_ = false;
  bool end_reached_ = false;
  bool specials_known_ = false;  // next_cr_ and next_nul_ are valid for the bytes in the buffer
  std::size_t next_cr_ = 0;      // the first CR at or after the line being read, or filled_
  std::size_t next_nul_ = 0;     // the same for NUL
};

template <class Take>
std::int64_t LineReader::take_plain_lines(char stop, Take&& take) {
  locate_specials(next_);
  // Up to the next CR or NUL, every line is plain.
  const std::size_t plain_end = next_cr_ < next_nul_ ? next_cr_ : next_nul_;
  const char* const buffer = buffer_.get();
  std::int64_t taken = 0;
  while (next_ < plain_end) {
    const char* const start = buffer + next_;
    if (*start == '\n' || *start == stop) break;
    const std::size_t reach =
        plain_end - next_ < kMaxLineBytes + 1 ? plain_end - next_ : kMaxLineBytes + 1;
    const void* lf = std::memchr(start, '\n', reach);
    if (lf == nullptr) break;
    const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
    take(std::string_view(start, length));
    next_ += length + 1;
    ++taken;
  }
  return taken;
}

/// Cuts a line at its first NUL byte, which ends a line's text.
inline std::string_view text_before_nul(std::string_view bytes) {
  const void* nul = bytes.empty() ? nullptr : std::memchr(bytes.data(), '\0', bytes.size());
  return nul == nullptr
             ? bytes
             : bytes.substr(0,
                            static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data()));
}

/// Removes one carriage return at the end of a line's text.
inline std::string_view without_trailing_cr(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace tarnel

#endif  // TARNEL_BASE_LINE_READER_H_
