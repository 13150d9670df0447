// Collects an output file's bytes in memory and hands them to the staged file in large blocks,
// so that writing costs a system call per megabyte rather than one per line.
#ifndef TARNEL_SPECIES_OUTPUT_BUFFER_H_
#define TARNEL_SPECIES_OUTPUT_BUFFER_H_

#include <string>
#include <string_view>

#include "run/file_system.h"

namespace tarnel {

class OutputBuffer {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  explicit OutputBuffer(StagedFile& file) : file_(file) { bytes_.reserve(kBlockBytes + 4096); }

  /// The bytes not yet handed on; writers append to it and then call `pass_full_blocks`.
  std::string& bytes() { return bytes_; }
  void pass_full_blocks() {
    if (bytes_.size() >= kBlockBytes) pass_on();
  }
  /// Hands on the rest and closes the file; false if any write or the close failed.
  bool finish() {
    pass_on();
    return file_.finish() && ok_;
  }
  StagedFile& file() { return file_; }

 private:
  void pass_on() {
    if (!bytes_.empty()) ok_ = file_.write(bytes_) && ok_;
    bytes_.clear();
  }
  StagedFile& file_;
  std::string bytes_;
  bool ok_ = true;
};

}  // namespace tarnel

#endif  // TARNEL_SPECIES_OUTPUT_BUFFER_H_
