// The user's progress display. Every line end is flushed at once, so a long species shows its
// heading while it is being processed.
#ifndef TARNEL_BASE_CONSOLE_H_
#define TARNEL_BASE_CONSOLE_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace tarnel {

class Console {
 public:
  explicit Console(std::ostream& out) : out_(out) {}

  Console& operator<<(std::string_view text) {
    pending_.append(text);
    return *this;
  }
  Console& operator<<(char c) {
    pending_.push_back(c);
    return *this;
  }
  /// Decimal at natural width.
  Console& operator<<(std::int64_t number);

  /// Decimal, right-aligned in `width` columns.
  void right(std::int64_t number, std::size_t width);
  /// Text, then blanks up to `width` columns.
  void left(std::string_view text, std::size_t width);
  /// Decimal, then blanks up to `width` columns.
  void left(std::uint64_t number, std::size_t width);

  /// Ends the line and flushes it to the stream.
  void end_line();
  /// Writes out a line in progress without ending it.
  void flush();

  /// How long the line in progress is, written out or not.
  std::size_t line_length() const { return line_.size() + pending_.size(); }
  /// The text of the last line ended, without its line end.
  std::string_view last_line() const { return last_line_; }

  /// True once a write to the stream has failed; `error` then holds the system's error code.
  /// The run goes on without its console and says so at its end.
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }

 private:
  void write_out();

  std::ostream& out_;
  std::string pending_;
  std::string line_;
  std::string last_line_;
  int error_ = 0;
};

}  // namespace tarnel

#endif  // TARNEL_BASE_CONSOLE_H_
