#include "species/fasta_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace tarnel {
namespace {

struct Expected {
  std::string identifier;
  std::string sequence;
  std::uint64_t offset;
  std::int64_t line;
};

struct ReadResult {
  bool ok;
  std::string console;
  std::vector<Expected> records;
};

ReadResult read_bytes(const std::string& bytes, std::size_t block_bytes, bool read_error = false) {
  testing::MemoryFileSystem files;
  files.files["in/x.fa"] = bytes;
  files.block_bytes = block_bytes;
  if (read_error) files.read_error.insert("in/x.fa");
  std::ostringstream out;
  Console console(out);
  ProteinSet proteins;
  ReadResult result;
  result.ok = read_fasta(files, console, "in/", "x.fa", proteins);
  result.console = out.str();
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    const ProteinRecord& r = proteins[i];
    EXPECT_EQ(r.ordinal, static_cast<std::int32_t>(i));
    EXPECT_FALSE(r.is_copy);
    EXPECT_TRUE(r.copies.empty());
    result.records.push_back(
        {std::string(r.identifier), std::string(r.sequence), r.offset, r.line});
  }
  return result;
}

struct Case {
  const char* name;
  std::string bytes;
  std::vector<Expected> records;
  std::string message;  // empty: reading succeeds
};

std::vector<Case> cases() {
  const std::string long_line(65535, 'M');
  return {
      {"two records over five lines",
       ">P1 first protein\nMKV\nLLA\n>P2\nMK\n",
       {{"P1", "MKVLLA", 0, 1}, {"P2", "MK", 26, 4}},
       ""},
      {"CR LF reads like LF, offsets count the CRs",
       ">P1 first protein\r\nMKV\r\nLLA\r\n>P2\r\nMK\r\n",
       {{"P1", "MKVLLA", 0, 1}, {"P2", "MK", 29, 4}},
       ""},
      {"identifier ends at a bar", ">sp|P12345|NAME_HUMAN Name\nMK\n", {{"sp", "MK", 0, 1}}, ""},
      {"identifier ends at a blank", ">P12345 Some name\nMK\n", {{"P12345", "MK", 0, 1}}, ""},
      {"identifier ends at a tab", ">P12345\tgene\nMK\n", {{"P12345", "MK", 0, 1}}, ""},
      {"identifier ends at a NUL", std::string(">AB\0CD x\nMK\n", 12), {{"AB", "MK", 0, 1}}, ""},
      {"header alone has an empty identifier", ">\nMK\n", {{"", "MK", 0, 1}}, ""},
      {"blank after > gives an empty identifier", "> P1\nMK\n", {{"", "MK", 0, 1}}, ""},
      {"sequence lines are joined without separators",
       ">A\nMKV\nLLA\nQ\n",
       {{"A", "MKVLLAQ", 0, 1}},
       ""},
      {"blank-only lines stay in the sequence", ">A\n  \nMK\n", {{"A", "  MK", 0, 1}}, ""},
      {"a sequence line is cut at its first CR", ">A\nMK\rZZ\nLL\n", {{"A", "MKLL", 0, 1}}, ""},
      {"a sequence line is cut at a NUL",
       std::string(">A\nMK\0ZZ\nLL\n", 13),
       {{"A", "MKLL", 0, 1}},
       ""},
      {"a blank before > makes a sequence line", ">A\nMK\n >B\n", {{"A", "MK >B", 0, 1}}, ""},
      {"last record without a final line feed",
       ">A\nMK\n>B\nLL",
       {{"A", "MK", 0, 1}, {"B", "LL", 6, 3}},
       ""},
      {"last line a header is dropped", ">A\nMK\n>B\n", {{"A", "MK", 0, 1}}, ""},
      {"last line a header without line feed is dropped", ">A\nMK\n>B", {{"A", "MK", 0, 1}}, ""},
      {"header with empty identifier replaced by the next", ">\n>B\nMK\n", {{"B", "MK", 2, 2}}, ""},
      {"empty identifier at the end kept with a final line feed",
       ">A\nMK\n>\nLL\n",
       {{"A", "MK", 0, 1}, {"", "LL", 6, 3}},
       ""},
      {"empty identifier at the end dropped without one", ">A\nMK\n>\nLL", {{"A", "MK", 0, 1}}, ""},
      {"lines before the first header form a record of their own",
       "MK\nLL\n>A\nQQ\n",
       {{"", "MKLL", 0, 0}, {"A", "QQ", 6, 3}},
       ""},
      {"lines before any header, ending with a line feed", "MK\n", {{"", "MK", 0, 0}}, ""},
      {"lines before any header, without a final line feed", "MK", {}, ""},
      {"empty file", "", {}, ""},
      {"headers of empty identifiers only", ">\n>\n", {}, ""},
      {"longest line", ">A\n" + long_line + "\n", {{"A", long_line, 0, 1}}, ""},
      {"longest line at the end of the file", ">A\n" + long_line, {{"A", long_line, 0, 1}}, ""},
      {"longest line counts its CR",
       ">A\n" + long_line.substr(1) + "\r\n",
       {{"A", long_line.substr(1), 0, 1}},
       ""},
      {"line one byte too long", ">A\n" + long_line + "M\n", {}, "failed at line 2\n"},
      {"line too long with its CR", ">A\n" + long_line + "\r\n", {}, "failed at line 2\n"},
      {"two headers in a row", ">A\n>B\nMK\n", {}, "no sequence at line 2\n"},
      {"empty line between records", ">A\nMK\n\n>B\nLL\n", {}, "empty line 3\n"},
      {"empty line at the end", ">A\nMK\n\n", {}, "empty line 3\n"},
      {"a CR alone is an empty line", ">A\nMK\n\r\n>B\nLL\n", {}, "empty line 3\n"},
      {"a line starting with NUL is empty",
       std::string(">A\n\0abc\nMK\n", 11),
       {},
       "empty line 2\n"},
      {"an over-long line starting with NUL reads as empty",
       ">A\n" + std::string(1, '\0') + long_line + "\n",
       {},
       "empty line 2\n"},
  };
}

TEST(FastaReader, ReadsRecordsAndReportsTheFirstBadLine) {
  for (const Case& c : cases()) {
    // Small blocks force lines across block boundaries.
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(block));
      const ReadResult result = read_bytes(c.bytes, block);
      EXPECT_EQ(result.ok, c.message.empty());
      EXPECT_EQ(result.console, c.message);
      if (!c.message.empty()) continue;
      ASSERT_EQ(result.records.size(), c.records.size());
      for (std::size_t i = 0; i < c.records.size(); ++i) {
        EXPECT_EQ(result.records[i].identifier, c.records[i].identifier) << i;
        EXPECT_EQ(result.records[i].sequence, c.records[i].sequence) << i;
        EXPECT_EQ(result.records[i].offset, c.records[i].offset) << i;
        EXPECT_EQ(result.records[i].line, c.records[i].line) << i;
      }
    }
  }
}

TEST(FastaReader, ReportsMissingFileWithItsPath) {
  testing::MemoryFileSystem files;
  std::ostringstream out;
  Console console(out);
  ProteinSet proteins;
  EXPECT_FALSE(read_fasta(files, console, "protein/", "absent.fa", proteins));
  EXPECT_EQ(out.str(), "can't open input file protein/absent.fa\n");
}

TEST(FastaReader, ReadErrorFailsAtTheLineBeingRead) {
  // The first block holds two whole lines; the source fails on the next read.
  const ReadResult result = read_bytes(">A\nMK\nLL\n", 6, /*read_error=*/true);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.console, "failed at line 3\n");
}

TEST(FastaReader, OffsetsAreTrueByteOffsetsAcrossManyBlocks) {
  std::string bytes;
  std::vector<std::uint64_t> offsets;
  for (int i = 0; i < 5000; ++i) {
    offsets.push_back(bytes.size());
    bytes += ">P" + std::to_string(i) + (i % 3 == 0 ? " desc\r\n" : "\n");
    bytes += std::string(static_cast<std::size_t>(1 + i % 250), 'A') + "\n";
  }
  const ReadResult result = read_bytes(bytes, 4093);
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.records.size(), offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    ASSERT_EQ(result.records[i].offset, offsets[i]) << i;
    ASSERT_EQ(result.records[i].line, static_cast<std::int64_t>(2 * i + 1)) << i;
  }
}

}  // namespace
}  // namespace tarnel
