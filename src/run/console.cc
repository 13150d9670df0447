#include "run/console.h"

#include "run/text_format.h"

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
  pending_.push_back('\n');
  flush();
}

void Console::flush() {
  out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  out_.flush();
  pending_.clear();
}

}  // namespace tarnel
