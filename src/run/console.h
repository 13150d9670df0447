// The user's progress display. Every line end is flushed at once, so a long species shows its
// heading while it is being processed.
#ifndef TARNEL_RUN_CONSOLE_H_
#define TARNEL_RUN_CONSOLE_H_

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

 private:
  std::ostream& out_;
  std::string pending_;
};

}  // namespace tarnel

#endif  // TARNEL_RUN_CONSOLE_H_
