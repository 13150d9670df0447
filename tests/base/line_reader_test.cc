// What the reader delivers is pinned by the FASTA reader's table; here, its `plain` answer, which
// lets the FASTA reader skip its own searches for NUL and CR: a wrong one would silently keep
// bytes that end or trim a line.
#include "base/line_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "test_support.h"

namespace tarnel {
namespace {

// Random streams whose CRs and NULs are rare, so that runs of plain lines lie between them,
// read in blocks small enough that lines, CRs and NULs straddle them.
TEST(LineReaderTest, TellsPlainLinesWhereverTheBlocksEnd) {
  std::mt19937 random(2024);
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    for (auto n = random() % 3000; n > 0; --n)
      bytes += "\r\0\n\n\nMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"[random() % 40];
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
      testing::MemoryFileSystem files;
      files.files["f"] = bytes;
      files.block_bytes = block;
      LineReader reader(files.open_for_reading("f"));
      while (!reader.end_reached()) {
        const LineRead read = reader.read_line();
        // No NUL at all, and no CR but possibly as the last byte.
        const std::size_t cr = read.bytes.find('\r');
        const bool plain = read.bytes.find('\0') == std::string_view::npos &&
                           (cr == std::string_view::npos || cr + 1 == read.bytes.size());
        ASSERT_EQ(read.plain, plain) << '"' << read.bytes << "\" in blocks of " << block;
      }
    }
  }
}

}  // namespace
}  // namespace tarnel
