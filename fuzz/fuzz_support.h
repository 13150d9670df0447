// In-memory stand-ins for the file system and helpers shared by the fuzz targets. The fuzzers
// drive the same code as the tool but never touch the disk, so a run is fast and repeatable.
#ifndef TARNEL_FUZZ_FUZZ_SUPPORT_H_
#define TARNEL_FUZZ_FUZZ_SUPPORT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/file_system.h"

namespace tarnel::fuzz {

/// Stops the fuzzer with a message; libFuzzer saves the input that got here as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define TARNEL_FUZZ_CHECK(condition)                    \
  do {                                                  \
    if (!(condition)) ::tarnel::fuzz::fail(#condition); \
  } while (false)

/// Bytes handed out in blocks of at most `block_bytes`: pipes and slow devices deliver short
/// reads, and every line-boundary case must come out the same whatever the block size.
class SpanSource final : public ByteSource {
 public:
  SpanSource(std::string_view bytes, std::size_t block_bytes)
      : bytes_(bytes), block_bytes_(block_bytes == 0 ? 1 : block_bytes) {}
  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    const std::size_t n = std::min({capacity, block_bytes_, bytes_.size() - next_});
    if (n > 0) std::copy_n(bytes_.data() + next_, n, buffer);
    next_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string_view bytes_;
  std::size_t block_bytes_;
  std::size_t next_ = 0;
};

/// Collects what a writer produces; `published` receives it on publish.
class StringStagedFile final : public StagedFile {
 public:
  explicit StringStagedFile(std::string* published = nullptr) : published_(published) {}
  bool write(std::string_view bytes) override {
    TARNEL_FUZZ_CHECK(!finished_);
    bytes_.append(bytes);
    return true;
  }
  bool finish() override {
    finished_ = true;
    return true;
  }
  bool publish() {
    TARNEL_FUZZ_CHECK(finished_);
    if (published_ != nullptr) *published_ = bytes_;
    return true;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string* published_;
  std::string bytes_;
  bool finished_ = false;
};

/// Files as a map from path to bytes; every path may be created. Reads come in blocks of
/// `block_bytes`.
class MapFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string, std::less<>> files;
  std::size_t block_bytes = 1 << 20;

  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override {
    const auto found = files.find(path);
    if (found == files.end()) return nullptr;
    return std::make_unique<SpanSource>(found->second, block_bytes);
  }
  std::unique_ptr<StagedFile> stage(const std::string& path) override {
    return std::make_unique<StringStagedFile>(&files[path]);
  }
  bool make_directories(const std::string&) override { return true; }
  std::size_t publish(std::span<StagedFile* const> staged) override {
    for (StagedFile* file : staged) static_cast<StringStagedFile*>(file)->publish();
    return staged.size();
  }
};

/// Block sizes worth trying: single bytes, sizes around the line limit, and whole blocks. Reads
/// of one to three bytes make a stretched input crawl, so long inputs get at least seven.
inline std::size_t block_bytes_for(std::uint8_t selector, std::size_t input_bytes) {
  static constexpr std::size_t kSizes[] = {1 << 20, 1,     2,     3,     7,    64,
                                           4096,    65534, 65535, 65536, 65537};
  const std::size_t size = kSizes[selector % (sizeof kSizes / sizeof kSizes[0])];
  return input_bytes > 4096 && size < 7 ? 7 : size;
}

/// The fuzzer's inputs stay small; this stretches one into lines around the 65,535-byte limit.
/// The first 0x7f byte becomes a run of `length_for(selector)` copies of `fill`.
inline std::string with_long_run(std::string_view bytes, std::uint8_t selector, char fill) {
  static constexpr std::size_t kLengths[] = {0,     1,     65533, 65534, 65535,
                                             65536, 65537, 70000, 131072};
  const std::size_t length = kLengths[selector % (sizeof kLengths / sizeof kLengths[0])];
  std::string out(bytes);
  const std::size_t at = out.find('\x7f');
  if (at != std::string::npos) out.replace(at, 1, length, fill);
  return out;
}

/// The line-by-line reading of an input file, written over the whole file at once so that it
/// shares nothing with the block reader it is compared with. A failed read delivers either the
/// first 65,535 bytes of an over-long line or, at the end of the file, nothing.
class WholeFileLines {
 public:
  static constexpr std::size_t kLimit = 65535;
  struct Read {
    bool failed;
    std::string_view bytes;
  };

  explicit WholeFileLines(std::string_view bytes) : bytes_(bytes) {}

  Read read() {
    if (next_ == bytes_.size()) {
      end_ = true;
      return {true, {}};
    }
    const std::size_t lf = bytes_.find('\n', next_);
    const std::size_t length = (lf == std::string_view::npos ? bytes_.size() : lf) - next_;
    if (length > kLimit) return {true, bytes_.substr(next_, kLimit)};
    const std::string_view line = bytes_.substr(next_, length);
    if (lf == std::string_view::npos) {
      next_ = bytes_.size();
      end_ = true;
    } else {
      next_ = lf + 1;
    }
    return {false, line};
  }
  bool end() const { return end_; }
  std::size_t position() const { return next_; }

  /// The text of a line: up to its first NUL.
  static std::string_view text(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

 private:
  std::string_view bytes_;
  std::size_t next_ = 0;
  bool end_ = false;
};

}  // namespace tarnel::fuzz

#endif  // TARNEL_FUZZ_FUZZ_SUPPORT_H_
