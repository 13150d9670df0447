#include "run/line_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace tarnel {
namespace {

using testing::MemoryFileSystem;

std::string status_name(ReadStatus status) {
  switch (status) {
    case ReadStatus::kLine:
      return "line";
    case ReadStatus::kEndOfFile:
      return "end of file";
    case ReadStatus::kTooLong:
      return "too long";
    case ReadStatus::kReadError:
      return "read error";
  }
  return "?";
}

// One read as a test sees it; the bytes are copied since the reader's view dies with the next
// read.
struct Read {
  ReadStatus status;
  std::string bytes;
  bool end_reached;
  std::uint64_t position;

  friend bool operator==(const Read&, const Read&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Read& r) {
    os << "{" << status_name(r.status) << ", " << r.bytes.size() << " bytes";
    if (r.bytes.size() <= 40) os << " \"" << r.bytes << "\"";
    return os << ", end " << r.end_reached << ", at " << r.position << "}";
  }
};

// Reads the way the list and FASTA readers do: until the end has been reached or a read fails
// for another reason than the end of the file.
std::vector<Read> read_all(const std::string& bytes, std::size_t block_bytes,
                           bool read_error = false) {
  MemoryFileSystem files;
  files.files["f"] = bytes;
  files.block_bytes = block_bytes;
  if (read_error) files.read_error.insert("f");
  LineReader reader(files.open_for_reading("f"));
  std::vector<Read> reads;
  while (!reader.end_reached()) {
    const LineRead read = reader.read_line();
    reads.push_back(
        {read.status, std::string(read.bytes), reader.end_reached(), reader.position()});
    if (read.status == ReadStatus::kTooLong || read.status == ReadStatus::kReadError) break;
  }
  return reads;
}

// The reads of one whole file, worked out a byte at a time from the definition of a read:
// the oracle for the block reader.
std::vector<Read> reference_reads(std::string_view file) {
  std::vector<Read> reads;
  std::size_t at = 0;
  for (;;) {
    const std::size_t lf = file.find('\n', at);
    const std::size_t stop = lf == std::string_view::npos ? file.size() : lf;
    if (stop - at > kMaxLineBytes) {
      reads.push_back({ReadStatus::kTooLong, std::string(file.substr(at, kMaxLineBytes)), false,
                       at + kMaxLineBytes});
      return reads;
    }
    if (lf == std::string_view::npos) {
      const bool empty = stop == at;
      reads.push_back({empty ? ReadStatus::kEndOfFile : ReadStatus::kLine,
                       std::string(file.substr(at)), true, file.size()});
      return reads;
    }
    reads.push_back({ReadStatus::kLine, std::string(file.substr(at, stop - at)), false, lf + 1});
    at = lf + 1;
  }
}

const std::string kLongest(kMaxLineBytes, 'x');

struct ReadCase {
  const char* name;
  std::string bytes;
  std::vector<Read> expected;
};

TEST(LineReaderTest, ReadsLinesAndMeetsTheEndOfFile) {
  const ReadCase kCases[] = {
      {"zero-byte file: one read, nothing delivered", "", {{ReadStatus::kEndOfFile, "", true, 0}}},
      {"no final line feed: the last line ends the file",
       "ab\ncd",
       {{ReadStatus::kLine, "ab", false, 3}, {ReadStatus::kLine, "cd", true, 5}}},
      {"final line feed: one more read finds nothing",
       "ab\ncd\n",
       {{ReadStatus::kLine, "ab", false, 3},
        {ReadStatus::kLine, "cd", false, 6},
        {ReadStatus::kEndOfFile, "", true, 6}}},
      {"empty lines are lines",
       "\n\n",
       {{ReadStatus::kLine, "", false, 1},
        {ReadStatus::kLine, "", false, 2},
        {ReadStatus::kEndOfFile, "", true, 2}}},
      {"carriage returns and NULs are ordinary bytes",
       std::string("a\r\r\nb\0c\r", 8),
       {{ReadStatus::kLine, "a\r\r", false, 4},
        {ReadStatus::kLine, std::string("b\0c\r", 4), true, 8}}},
      {"longest line before a line feed",
       kLongest + "\nz",
       {{ReadStatus::kLine, kLongest, false, kMaxLineBytes + 1},
        {ReadStatus::kLine, "z", true, kMaxLineBytes + 2}}},
      {"longest line at the very end of the file",
       kLongest,
       {{ReadStatus::kLine, kLongest, true, kMaxLineBytes}}},
      {"one byte too many before the line feed",
       "h\n" + kLongest + "y\n",
       {{ReadStatus::kLine, "h", false, 2}, {ReadStatus::kTooLong, kLongest, false, 2}}},
      {"one byte too many at the end of the file",
       kLongest + "y",
       {{ReadStatus::kTooLong, kLongest, false, 0}}},
      {"a carriage return counts toward the limit",
       kLongest + "\r\n",
       {{ReadStatus::kTooLong, kLongest, false, 0}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const std::size_t block : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
      SCOPED_TRACE("block of " + std::to_string(block));
      // The position after a failed read is of no use to anyone; compare it only on success.
      std::vector<Read> reads = read_all(c.bytes, block);
      std::vector<Read> expected = c.expected;
      if (!reads.empty() && reads.back().status == ReadStatus::kTooLong) {
        reads.back().position = expected.back().position = 0;
      }
      EXPECT_EQ(expected, reads);
    }
  }
}

TEST(LineReaderTest, ReportsReadErrorsOfTheSource) {
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t block;
    std::vector<std::pair<ReadStatus, std::string>> expected;
  };
  // The fake source fails every read after its first block.
  const Case kCases[] = {
      {"error after a whole line",
       "ab\ncd\n",
       3,
       {{ReadStatus::kLine, "ab"}, {ReadStatus::kReadError, ""}}},
      {"error inside the first line", "abcd\n", 2, {{ReadStatus::kReadError, "ab"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<Read> reads = read_all(c.bytes, c.block, /*read_error=*/true);
    ASSERT_EQ(c.expected.size(), reads.size());
    for (std::size_t i = 0; i < reads.size(); ++i) {
      EXPECT_EQ(status_name(c.expected[i].first), status_name(reads[i].status)) << i;
      EXPECT_EQ(c.expected[i].second, reads[i].bytes) << i;
      // A failed source is not the end of the file: nobody may take what was read for a line.
      EXPECT_FALSE(reads[i].end_reached) << i;
    }
  }
}

// Files of many line lengths, around and beyond the limit, several MiB long so that lines
// straddle the reader's own blocks at every kind of offset; the source hands out blocks of
// awkward sizes as a pipe or a decompressor would.
TEST(LineReaderTest, AgreesWithByteByByteReadingWhateverTheBlocks) {
  std::mt19937 random(20240611);
  const std::size_t kLengths[] = {0, 1, 2, 79, 80, 4095, 65533, 65534, 65535};
  for (int file = 0; file < 12; ++file) {
    std::string bytes;
    const std::size_t target = (file % 3 == 0) ? (std::size_t{5} << 19) : (std::size_t{1} << 14);
    while (bytes.size() < target) {
      const bool long_line = random() % 8 == 0;
      const std::size_t length = long_line ? kLengths[random() % std::size(kLengths)]
                                           : static_cast<std::size_t>(random() % 300);
      for (std::size_t i = 0; i < length; ++i) {
        // Line feeds only where a line ends; every other byte value may occur.
        char c = static_cast<char>(random() % 256);
        bytes.push_back(c == '\n' ? '\r' : c);
      }
      bytes.push_back('\n');
    }
    if (file % 2 == 1) bytes.pop_back();                   // no final line feed
    if (file == 11) bytes.append(kMaxLineBytes + 1, 'q');  // ends in an over-long line
    const std::vector<Read> expected = reference_reads(bytes);
    for (const std::size_t block : {std::size_t{1} << 20, std::size_t{65536}, std::size_t{65537},
                                    std::size_t{4093}, std::size_t{(1 << 20) + 65536}}) {
      SCOPED_TRACE("file " + std::to_string(file) + ", block of " + std::to_string(block));
      std::vector<Read> reads = read_all(bytes, block);
      ASSERT_EQ(expected.size(), reads.size());
      for (std::size_t i = 0; i < reads.size(); ++i) {
        const bool failed = reads[i].status == ReadStatus::kTooLong;
        if (failed) reads[i].position = expected[i].position;
        ASSERT_EQ(expected[i], reads[i]) << "read " << i;
      }
    }
  }
}

TEST(LineReaderTest, LineTextEndsAtTheFirstNulAndLosesOneCarriageReturn) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const Case kCases[] = {
      {"plain", "ab", "ab"},
      {"empty", "", ""},
      {"one carriage return", "ab\r", "ab"},
      {"two carriage returns keep one", "ab\r\r", "ab\r"},
      {"inner carriage return kept", "a\rb", "a\rb"},
      {"carriage return alone", "\r", ""},
      {"NUL ends the text", std::string("ab\0cd", 5), "ab"},
      {"NUL first", std::string("\0ab", 3), ""},
      {"carriage return after a NUL is gone with it", std::string("ab\0\r", 4), "ab"},
      {"carriage return before a NUL is at the end", std::string("ab\r\0c", 5), "ab"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.text, without_trailing_cr(text_before_nul(c.bytes)));
  }
}

}  // namespace
}  // namespace tarnel
