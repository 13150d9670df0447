// The reader's `plain` answer lets the FASTA reader skip its own searches for NUL and CR, so a
// wrong "plain" would silently keep bytes that end or trim a line. These cases check it
// against its definition, with blocks small enough that lines, CRs and NULs straddle them.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "run/line_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

// No NUL at all, and no CR but possibly the last byte.
bool is_plain_line(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return false;
  const std::size_t cr = bytes.find('\r');
  return cr == std::string_view::npos || cr + 1 == bytes.size();
}

// Reads the whole stream; fails the test at the first line whose answer is wrong. Returns the
// number of lines read.
int check_every_line(const std::string& bytes, std::size_t block_bytes) {
  testing::MemoryFileSystem files;
  files.files["f"] = bytes;
  files.block_bytes = block_bytes;
  LineReader reader(files.open_for_reading("f"));
  int lines = 0;
  while (!reader.end_reached()) {
    const LineRead read = reader.read_line();
    if (read.failed() && read.status != ReadStatus::kEndOfFile) break;
    ++lines;
    EXPECT_EQ(read.plain, is_plain_line(read.bytes))
        << "line " << lines << ": \"" << std::string(read.bytes) << "\"";
  }
  return lines;
}

TEST(LineReaderPlain, AnswersAsItsDefinition) {
  const struct Case {
    const char* name;
    std::string bytes;
  } kCases[] = {
      {"plain lines", "ABC\nDEF\nGH"},
      {"CR LF ends are plain", "AB\r\nCD\r\n\r\n"},
      {"a CR inside a line", "AB\nC\rD\nEF\n"},
      {"two CRs at the end", "AB\r\r\nCD\n"},
      {"a NUL inside a line", std::string("AB\nC\0D\nEF\n", 10)},
      {"a NUL alone", std::string("AB\n\0\nEF\n", 8)},
      {"a CR then a NUL on later lines", std::string("A\nB\nC\rx\nD\nE\0y\nF\nG\n", 19)},
      {"a CR at the very end without line feed", "AB\nCD\r"},
      {"a CR in the middle of the last line", "AB\nC\rD"},
      {"a NUL in the last line", std::string("AB\nC\0", 5)},
      {"an empty stream", ""},
  };
  for (const Case& c : kCases) {
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(block));
      check_every_line(c.bytes, block);
    }
  }
}

TEST(LineReaderPlain, RandomStreamsOfRareCrsAndNuls) {
  std::mt19937 random(2024);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string bytes;
    const std::size_t size = random() % 3000;
    for (std::size_t i = 0; i < size; ++i) {
      const unsigned pick = random() % 100;
      bytes.push_back(pick < 3 ? '\r' : pick < 5 ? '\0' : pick < 15 ? '\n' : 'M');
    }
    const std::size_t block = round % 4 == 0 ? (std::size_t{1} << 20) : 1 + random() % 50;
    check_every_line(bytes, block);
  }
}

}  // namespace
}  // namespace tarnel
