#include "base/console.h"

#include <cerrno>

#include "base/text_format.h"

namespace tarnel {

Console& Console::operator<<(std::int64_t number) {
  pending_.append(DecimalText(number).view());
  return *this;
}

void Console::right(std::int64_t number, std::size_t width) {
  append_right(pending_, DecimalText(number).view(), width);
}

void Console::left(std::string_view text, std::size_t width) { append_left(pending_, text, width); }

void Console::left(std::uint64_t number, std::size_t width) {
  append_left(pending_, DecimalText(number).view(), width);
}

void Console::end_line() {
  line_.append(pending_);
  last_line_.swap(line_);
  line_.clear();
  pending_.push_back('\n');
  write_out();
}

void Console::flush() {
  line_.append(pending_);
  write_out();
}

void Console::write_out() {
  if (error_ == 0) {
    errno = 0;
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    out_.flush();
    // A stream that failed says nothing of why; the system call's code is still there.
    if (!out_) error_ = errno != 0 ? errno : EIO;
  }
  pending_.clear();
}

}  // namespace tarnel
