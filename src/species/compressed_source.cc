#include "species/compressed_source.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

namespace tarnel {
namespace {

constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};

// Compressed input is taken in blocks of this size; the output goes straight into the caller's
// buffer, so the decompressed bytes are never copied.
constexpr std::size_t kInputBytes = std::size_t{256} << 10;

// The first bytes of a file, taken to decide its kind, and how taking them ended.
struct Peek {
  char bytes[2];
  std::size_t size = 0;
  bool ended = false;   // the file held fewer bytes
  bool failed = false;  // reading them failed
};

Peek peek_start(ByteSource& file) {
  Peek peek;
  // A pipe may hand out a single byte at a time.
  while (peek.size < sizeof peek.bytes) {
    const std::ptrdiff_t got = file.read(peek.bytes + peek.size, sizeof peek.bytes - peek.size);
    if (got < 0) {
      peek.failed = true;
      break;
    }
    if (got == 0) {
      peek.ended = true;
      break;
    }
    peek.size += static_cast<std::size_t>(got);
  }
  return peek;
}

bool is_gzip(const Peek& peek) {
  return peek.size == 2 && std::memcmp(peek.bytes, kGzipMagic, 2) == 0;
}

// A plain file: the peeked bytes, then the file itself. The one short read at the start costs
// the line reader a second call, and nothing more.
class PeekedSource final : public ByteSource {
 public:
  PeekedSource(std::unique_ptr<ByteSource> file, const Peek& peek)
      : file_(std::move(file)), peek_(peek) {}

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    if (delivered_ < peek_.size) {
      const std::size_t count = std::min(capacity, peek_.size - delivered_);
      std::memcpy(buffer, peek_.bytes + delivered_, count);
      delivered_ += count;
      return static_cast<std::ptrdiff_t>(count);
    }
    if (peek_.failed) return -1;
    if (peek_.ended) return 0;
    return file_->read(buffer, capacity);
  }
  std::uint64_t size_hint() const override { return file_->size_hint(); }

 private:
  std::unique_ptr<ByteSource> file_;
  Peek peek_;
  std::size_t delivered_ = 0;
};

class GzipSource final : public ByteSource {
 public:
  GzipSource(std::unique_ptr<ByteSource> file, const Peek& peek)
      : file_(std::move(file)), input_(new unsigned char[kInputBytes]) {
    std::memcpy(input_.get(), peek.bytes, peek.size);
    stream_.next_in = input_.get();
    stream_.avail_in = static_cast<uInt>(peek.size);
    // 16 + 15: a gzip wrapper only, with the largest window any gzip stream may use.
    if (inflateInit2(&stream_, 16 + 15) == Z_OK) {
      initialised_ = true;
    } else {
      state_ = State::kFailed;
    }
  }
  ~GzipSource() override {
    if (initialised_) inflateEnd(&stream_);
  }
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    const auto room = static_cast<uInt>(std::min<std::size_t>(capacity, UINT_MAX));
    stream_.next_out = reinterpret_cast<Bytef*>(buffer);
    stream_.avail_out = room;
    while (state_ == State::kInMember && stream_.avail_out > 0) inflate_some();
    while (state_ == State::kBetweenMembers && stream_.avail_out > 0) {
      start_next_member();
      while (state_ == State::kInMember && stream_.avail_out > 0) inflate_some();
    }
    const std::size_t produced = room - stream_.avail_out;
    // An end or a failure met after some output shows at the next call.
    if (produced > 0) return static_cast<std::ptrdiff_t>(produced);
    return state_ == State::kFailed ? -1 : 0;
  }

 private:
  enum class State { kInMember, kBetweenMembers, kEnded, kFailed };

  // Reads the next block of compressed bytes; false at the end of the file or on an error.
  bool fill() {
    if (input_ended_) return false;
    const std::ptrdiff_t got = file_->read(reinterpret_cast<char*>(input_.get()), kInputBytes);
    if (got <= 0) {
      input_ended_ = true;
      if (got < 0) state_ = State::kFailed;
      return false;
    }
    stream_.next_in = input_.get();
    stream_.avail_in = static_cast<uInt>(got);
    return true;
  }

  void inflate_some() {
    if (stream_.avail_in == 0) {
      fill();
      if (state_ == State::kFailed) return;
    }
    // With no input left, inflate still gives out what it holds, and then reports that it can
    // make no progress: the member was cut off.
    const int result = inflate(&stream_, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      state_ = State::kBetweenMembers;
    } else if (result != Z_OK) {
      state_ = State::kFailed;
    }
  }

  // After a member, the file either ends or holds another member.
  void start_next_member() {
    if (stream_.avail_in == 0 && !fill()) {
      if (state_ != State::kFailed) state_ = State::kEnded;
      return;
    }
    if (inflateReset(&stream_) != Z_OK) {
      state_ = State::kFailed;
      return;
    }
    state_ = State::kInMember;
  }

  std::unique_ptr<ByteSource> file_;
  std::unique_ptr<unsigned char[]> input_;
  z_stream stream_{};
  bool initialised_ = false;
  bool input_ended_ = false;
  State state_ = State::kInMember;
};

}  // namespace

std::unique_ptr<ByteSource> decompress_if_gzip(std::unique_ptr<ByteSource> file) {
  const Peek peek = peek_start(*file);
  if (is_gzip(peek)) return std::make_unique<GzipSource>(std::move(file), peek);
  return std::make_unique<PeekedSource>(std::move(file), peek);
}

}  // namespace tarnel
