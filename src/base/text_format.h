// Number and field formatting shared by the console and the output files. Fields are minimum
// widths: a shorter text is padded with blanks, a longer one is written whole.
#ifndef TARNEL_BASE_TEXT_FORMAT_H_
#define TARNEL_BASE_TEXT_FORMAT_H_

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnel {

/// Holds the decimal digits of one integer; no allocation, no locale.
class DecimalText {
 public:
  explicit DecimalText(std::int64_t value) {
    end_ = std::to_chars(digits_, digits_ + sizeof digits_, value).ptr;
  }
  explicit DecimalText(std::uint64_t value) {
    end_ = std::to_chars(digits_, digits_ + sizeof digits_, value).ptr;
  }
  std::string_view view() const { return {digits_, static_cast<std::size_t>(end_ - digits_)}; }

 private:
  char digits_[24];
  char* end_;
};

inline void append_padding(std::string& out, std::size_t text_size, std::size_t width) {
  if (text_size < width) out.append(width - text_size, ' ');
}

inline void append_right(std::string& out, std::string_view text, std::size_t width) {
  append_padding(out, text.size(), width);
  out.append(text);
}

inline void append_left(std::string& out, std::string_view text, std::size_t width) {
  out.append(text);
  append_padding(out, text.size(), width);
}

}  // namespace tarnel

#endif  // TARNEL_BASE_TEXT_FORMAT_H_
