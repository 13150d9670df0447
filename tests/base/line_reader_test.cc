#include "base/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace tarnel {
namespace {

using enum ReadStatus;

// One read, with its bytes copied out of the reader's buffer.
struct Read {
  ReadStatus status;
  std::string bytes;
  bool end_reached;
  std::uint64_t position;  // 0 after a failed read, where it means nothing

  friend bool operator==(const Read&, const Read&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Read& r) {
    return os << "{status " << static_cast<int>(r.status) << ", " << r.bytes.size()
              << " bytes, end " << r.end_reached << ", at " << r.position << "}";
  }
};

// Reads as the list and FASTA readers do: until the end is reached or a read fails.
std::vector<Read> read_all(const std::string& bytes, std::size_t block_bytes,
                           bool read_error = false) {
  testing::MemoryFileSystem files;
  files.files["f"] = bytes;
  files.block_bytes = block_bytes;
  if (read_error) files.read_error.insert("f");
  LineReader reader(files.open_for_reading("f"));
  std::vector<Read> reads;
  while (!reader.end_reached()) {
    const LineRead read = reader.read_line();
    const bool failed = read.status == kTooLong || read.status == kReadError;
    reads.push_back({read.status, std::string(read.bytes), reader.end_reached(),
                     failed ? 0 : reader.position()});
    if (failed) break;
  }
  return reads;
}

TEST(LineReaderTest, DeliversLinesUpToTheLimitAndToTheEndOfTheFile) {
  const std::string full(kMaxLineBytes, 'x');
  const std::tuple<const char*, std::string, std::vector<Read>> kCases[] = {
      {"zero bytes: one read finds the end", "", {{kEndOfFile, "", true, 0}}},
      {"no final LF", "ab\ncd", {{kLine, "ab", false, 3}, {kLine, "cd", true, 5}}},
      {"final LF: one more read", "ab\n", {{kLine, "ab", false, 3}, {kEndOfFile, "", true, 3}}},
      {"full line, LF", full + "\nz", {{kLine, full, false, 65536}, {kLine, "z", true, 65537}}},
      {"full line at the end", full, {{kLine, full, true, 65535}}},
      {"one byte more", "a\n" + full + "y\n", {{kLine, "a", false, 2}, {kTooLong, full, false, 0}}},
      {"one byte more at the end", full + "y", {{kTooLong, full, false, 0}}},
  };
  for (const auto& [name, bytes, expected] : kCases) {
    for (const std::size_t block : {std::size_t{1}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(name) + ", blocks of " + std::to_string(block));
      EXPECT_EQ(expected, read_all(bytes, block));
    }
  }
}

// Lines of the greatest length that straddle the reader's own blocks of 1 MiB.
TEST(LineReaderTest, CarriesALineOverToTheNextBlock) {
  std::string bytes = "ab\n";
  for (int k = 0; k < 20; ++k) bytes += std::string(kMaxLineBytes, 'x') + "\n";
  const std::vector<Read> reads = read_all(bytes, std::size_t{1} << 20);
  ASSERT_EQ(22u, reads.size());
  for (std::uint64_t k = 1; k <= 20; ++k) {
    EXPECT_EQ((Read{kLine, std::string(kMaxLineBytes, 'x'), false, 3 + k * 65536}), reads[k]);
  }
  EXPECT_EQ((Read{kEndOfFile, "", true, bytes.size()}), reads.back());
}

TEST(LineReaderTest, AReadErrorIsNotTheEndOfTheFile) {
  // The source fails every read after its first block.
  const std::vector<Read> expected = {{kLine, "ab", false, 3}, {kReadError, "", false, 0}};
  EXPECT_EQ(expected, read_all("ab\ncd\n", 3, /*read_error=*/true));
}

}  // namespace
}  // namespace tarnel
