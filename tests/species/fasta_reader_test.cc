#include "species/fasta_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "base/line_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

using namespace std::string_literals;

TEST(FastaReader, ReadsRecordsAndReportsTheFirstBadLine) {
  const std::string full(kMaxLineBytes, 'M');
  const std::string less = full.substr(1);
  const struct {
    const char* name;
    std::string bytes;
    std::string expected;  // "identifier|sequence|offset|line" per record, or the message
  } kCases[] = {
      {"five lines", ">P1 first protein\nMKV\nLLA\n>P2\nMK\n", "P1|MKVLLA|0|1\nP2|MK|26|4\n"},
      {"CR LF, offsets count the CRs", ">P1 first protein\r\nMKV\r\nLLA\r\n>P2\r\nMK\r\n",
       "P1|MKVLLA|0|1\nP2|MK|29|4\n"},
      {"identifier ends at a bar", ">sp|P12345|NAME_HUMAN Name\nMK\n", "sp|MK|0|1\n"},
      {"identifier ends at a blank", ">P12345 Some name\nMK\n", "P12345|MK|0|1\n"},
      {"identifier ends at a tab", ">P12345\tgene\nMK\n", "P12345|MK|0|1\n"},
      {"> alone", ">\nMK\n", "|MK|0|1\n"},
      {"> and a blank", "> x\nMK\n", "|MK|0|1\n"},
      {"a NUL ends header and sequence text", ">AB\0CD x\nMK\0ZZ\nLL\n"s, "AB|MKLL|0|1\n"},
      {"a CR cuts a sequence line", ">A\nMK\rZZ\nLL\n", "A|MKLL|0|1\n"},
      {"blank-only lines stay", ">A\n  \nMK\n", "A|  MK|0|1\n"},
      {"a blank before > makes a sequence line", ">A\nMK\n >B\n", "A|MK >B|0|1\n"},
      {"no final line feed", ">A\nMK\n>B\nLL", "A|MK|0|1\nB|LL|6|3\n"},
      {"last line a header", ">A\nMK\n>B\n", "A|MK|0|1\n"},
      {"last line a header, no line feed", ">A\nMK\n>B", "A|MK|0|1\n"},
      {"empty identifier replaced by the next header", ">\n>B\nMK\n", "B|MK|2|2\n"},
      {"empty identifier last, final line feed", ">A\nMK\n>\nLL\n", "A|MK|0|1\n|LL|6|3\n"},
      {"empty identifier last, no line feed", ">A\nMK\n>\nLL", "A|MK|0|1\n"},
      {"lines before the first header", "MK\nLL\n>A\nQQ\n", "|MKLL|0|0\nA|QQ|6|3\n"},
      {"empty file", "", ""},
      {"65,535 characters", ">A\n" + full + "\n", "A|" + full + "|0|1\n"},
      {"65,535 with the CR", ">A\n" + less + "\r\n", "A|" + less + "|0|1\n"},
      {"65,536 characters", ">A\n" + full + "M\n", "failed at line 2\n"},
      {"65,536 with the CR", ">A\n" + full + "\r\n", "failed at line 2\n"},
      {"two headers in a row", ">A\n>B\nMK\n", "no sequence at line 2\n"},
      {"empty line inside", ">A\nMK\n\n>B\nLL\n", "empty line 3\n"},
      {"empty line at the end", ">A\nMK\n\n", "empty line 3\n"},
      {"a CR alone is empty", ">A\nMK\n\r\n>B\nLL\n", "empty line 3\n"},
      {"a line starting with NUL is empty", ">A\n\0abc\nMK\n"s, "empty line 2\n"},
      {"even when over-long", ">A\n\0"s + full + "\n", "empty line 2\n"},
  };
  for (const auto& c : kCases) {
    // Blocks of one byte split every line across reads.
    for (const std::size_t block : {std::size_t{1}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(block));
      EXPECT_EQ(testing::read_fasta_bytes(c.bytes, block), c.expected);
    }
  }
}

TEST(FastaReader, ReadErrorFailsAtTheLineBeingRead) {
  // The first block holds two whole lines; the source fails on the next read.
  EXPECT_EQ(testing::read_fasta_bytes(">A\nMK\nLL\n", 6, /*read_error=*/true),
            "failed at line 3\n");
}

TEST(FastaReader, ASizeHintNeverChangesWhatIsRead) {
  // The hint only sizes the record list ahead; a wrong one, a pipe's 0 or an absurd one must
  // read the same records.
  class HintedSource final : public ByteSource {
   public:
    HintedSource(std::string bytes, std::uint64_t hint) : bytes_(std::move(bytes)), hint_(hint) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
      const std::size_t n = std::min(capacity, bytes_.size() - next_);
      bytes_.copy(buffer, n, next_);
      next_ += n;
      return static_cast<std::ptrdiff_t>(n);
    }
    std::uint64_t size_hint() const override { return hint_; }

   private:
    std::string bytes_;
    std::uint64_t hint_;
    std::size_t next_ = 0;
  };
  std::string fasta;
  for (int i = 0; i < 2000; ++i)
    fasta += ">P" + std::to_string(i) + "\nMK" + std::string(i % 7, 'L') + "\n";
  for (const std::uint64_t hint :
       {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{100}, std::uint64_t{fasta.size()},
        std::uint64_t{1} << 39, ~std::uint64_t{0}}) {
    SCOPED_TRACE(hint);
    HintedSource source(fasta, hint);
    std::ostringstream out;
    Console console(out);
    ProteinSet proteins;
    ASSERT_TRUE(read_fasta(source, console, proteins));
    ASSERT_EQ(proteins.size(), 2000u);
    EXPECT_EQ(proteins[1999].identifier, "P1999");
    EXPECT_EQ(proteins[1999].sequence, "MKLLLL");  // 1999 % 7 residues L
  }
}

TEST(FastaReader, MissingFileIsNamedByItsWholePath) {
  testing::MemoryFileSystem files;
  std::ostringstream out;
  Console console(out);
  ProteinSet proteins;
  EXPECT_FALSE(read_fasta(files, console, "protein/", "absent.fa", proteins));
  EXPECT_EQ(out.str(), "can't open input file protein/absent.fa\n");
}

}  // namespace
}  // namespace tarnel
