// The reader's `plain` answer lets the FASTA reader skip its own searches for NUL and CR, so a
// wrong "plain" would silently keep bytes that end or trim a line. Checked here against its
// definition, with blocks small enough that lines, CRs and NULs straddle them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/line_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

TEST(LineReaderPlain, AnswersAsItsDefinitionWhereverTheBlocksEnd) {
  using namespace std::string_literals;
  // CR LF ends, two CRs at an end, CRs and NULs inside lines and alone, and a last line without
  // line feed that ends in a CR, holds one or holds a NUL; then random streams whose CRs and
  // NULs are rare, so that runs of plain lines lie between them.
  std::vector<std::string> streams = {"AB\r\n\r\nC\r\r\nD\rE\nF\0G\n\0\nH"s, "AB\nCD\r", "AB\nC\rD",
                                      "AB\nC\0"s, ""};
  constexpr char kRandomBytes[] = "\r\0\n\n\nMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM";
  std::mt19937 random(2024);
  for (int round = 0; round < 200; ++round) {
    std::string& bytes = streams.emplace_back();
    for (auto n = random() % 3000; n > 0; --n)
      bytes.push_back(kRandomBytes[random() % (sizeof kRandomBytes - 1)]);
  }
  for (const std::string& bytes : streams) {
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
