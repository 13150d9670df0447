// FASTA files as they are read, compressed or not.
#include "species/fasta_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <sstream>
#include <string>

#include "base/console.h"
#include "base/line_reader.h"
#include "species/compressed_source.h"
#include "test_support.h"

namespace tarnel {
namespace {

using namespace std::string_literals;
using testing::MemoryFileSystem;

// Reads a file of these bytes, handed out at most `block_bytes` at a time (and failing after
// the first block if `read_error`). Returns a line per record, "identifier|sequence|offset|line",
// or the reader's message when it fails.
std::string read_fasta_bytes(const std::string& bytes, std::size_t block_bytes,
                             bool read_error = false) {
  MemoryFileSystem files;
  files.files["in/x.fa"] = bytes;
  files.block_bytes = block_bytes;
  if (read_error) files.read_error.insert("in/x.fa");
  std::ostringstream message;
  Console console(message);
  ProteinSet proteins;
  const bool ok = read_fasta(files, console, "in/", "x.fa", proteins);
  console.flush();
  EXPECT_EQ(ok, message.str().empty()) << message.str();
  if (!ok) return message.str();
  std::string records;
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    const ProteinRecord& r = proteins[i];
    // Fresh from the reader: numbered in reading order, with no copies marked.
    EXPECT_EQ(r.ordinal, static_cast<std::int32_t>(i));
    EXPECT_TRUE(!r.is_copy && r.copies.empty());
    records.append(r.identifier).append("|").append(r.sequence);
    records += "|" + std::to_string(r.offset) + "|" + std::to_string(r.line) + "\n";
  }
  return records;
}

TEST(FastaReader, ReadsRecordsAndReportsTheFirstBadLine) {
  const std::string full(kMaxLineBytes, 'M');
  // "identifier|sequence|offset|line" per record, or the message.
  const std::tuple<const char*, std::string, std::string> kCases[] = {
      {"five lines", ">P1 first protein\nMKV\nLLA\n>P2\nMK\n", "P1|MKVLLA|0|1\nP2|MK|26|4\n"},
      {"CR LF, offsets count the CRs", ">P1 first protein\r\nMKV\r\nLLA\r\n>P2\r\nMK\r\n",
       "P1|MKVLLA|0|1\nP2|MK|29|4\n"},
      {"identifier ends at a bar", ">sp|P12345|NAME_HUMAN Name\nMK\n", "sp|MK|0|1\n"},
      {"identifier ends at a tab", ">P12345\tgene\nMK\n", "P12345|MK|0|1\n"},
      {"a NUL ends header and sequence text", ">AB\0CD x\nMK\0ZZ\nLL\n"s, "AB|MKLL|0|1\n"},
      {"a CR cuts a sequence line", ">A\nMK\rZZ\nLL\n", "A|MKLL|0|1\n"},
      {"blank-only lines stay", ">A\n  \nMK\n", "A|  MK|0|1\n"},
      {"a blank before > makes a sequence line", ">A\nMK\n >B\n", "A|MK >B|0|1\n"},
      {"no final line feed", ">A\nMK\n>B\nLL", "A|MK|0|1\nB|LL|6|3\n"},
      {"last line a header", ">A\nMK\n>B\n", "A|MK|0|1\n"},
      {"empty identifier replaced by the next header", ">\n>B\nMK\n", "B|MK|2|2\n"},
      {"empty identifier last, final line feed", ">A\nMK\n>\nLL\n", "A|MK|0|1\n|LL|6|3\n"},
      {"empty identifier last, no line feed", ">A\nMK\n>\nLL", "A|MK|0|1\n"},
      {"lines before the first header", "MK\nLL\n>A\nQQ\n", "|MKLL|0|0\nA|QQ|6|3\n"},
      {"65,535 characters", ">A\n" + full + "\n>B\nMK", "A|" + full + "|0|1\nB|MK|65539|3\n"},
      {"65,535 at the end", ">A\n" + full, "A|" + full + "|0|1\n"},
      {"65,536 with the CR", ">A\n" + full + "\r\n", "failed at line 2\n"},
      {"65,536 at the end", ">A\n" + full + "M", "failed at line 2\n"},
      {"two headers in a row", ">A\n>B\nMK\n", "no sequence at line 2\n"},
      {"empty line inside", ">A\nMK\n\n>B\nLL\n", "empty line 3\n"},
      {"empty line at the end", ">A\nMK\n\n", "empty line 3\n"},
      {"a CR alone is empty", ">A\nMK\n\r\n>B\nLL\n", "empty line 3\n"},
      {"a line starting with NUL is empty", ">A\n\0abc\nMK\n"s, "empty line 2\n"},
      {"even when over-long", ">A\n\0"s + full + "\n", "empty line 2\n"},
  };
  for (const auto& [name, bytes, expected] : kCases) {
    // Blocks of one byte split every line across reads.
    for (const std::size_t block : {std::size_t{1}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(name) + ", blocks of " + std::to_string(block));
      EXPECT_EQ(read_fasta_bytes(bytes, block), expected);
    }
  }
  // The first block holds two whole lines; the source fails on the next read.
  EXPECT_EQ(read_fasta_bytes(">A\nMK\nLL\n", 6, /*read_error=*/true), "failed at line 3\n");
}

// One gzip member of `text`; with `blocked`, as block-compressing tools write it, its header
// carrying an extra field.
std::string gzip(std::string_view text, bool blocked = false) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (blocked) out[3] |= 4;  // FEXTRA: 6 bytes, a subfield "BC" of 2 bytes
  return blocked ? out.insert(10, "\x06\x00\x42\x43\x02\x00\x00\x00"s) : out;
}

// A compressed file reads as its plain twin, whether in one member or in several; one cut short
// or damaged fails at the line being read when it broke, every byte before the damage delivered.
// Decompressed a byte at a time, in and out, it delivers the same.
TEST(CompressedSource, ReadsAsThePlainTwinOrFailsWhereTheStreamBreaks) {
  std::mt19937 random(1);
  std::string residues;  // random enough that half the stream holds part of them
  while (residues.size() < 3000) residues += "ACDEFGHIKLMNPQRSTVWY"[random() % 20];
  const std::string text = ">P1 desc\nMKV\n>P2\n" + residues + "\n>P3\nLL";  // six lines
  const std::string good = gzip(text);
  std::string bad_block = gzip("LL\n"), bad_checksum = good;
  bad_block[10] = '\xff';  // the first block claims a type that does not exist
  bad_checksum[good.size() - 8] ^= 1;
  // The file, and the plain text it holds or the message it fails with.
  const std::pair<std::string, std::string> kCases[] = {
      {"\x1f", "\x1f"},
      {"\x1f\x8c rest", "\x1f\x8c rest"},
      {gzip(""), ""},
      {good, text},
      {gzip(text.substr(0, 9)) + gzip("") + gzip(text.substr(9)), text},
      {gzip(text.substr(0, 9), true) + gzip(text.substr(9), true) + gzip("", true), text},
      {good.substr(0, 2), "failed at line 1\n"},                // the magic bytes alone
      {good.substr(0, good.size() / 2), "failed at line 4\n"},  // cut in the data
      {good.substr(0, good.size() - 4), "failed at line 6\n"},  // cut in the trailer
      {gzip(">P1\nMK\n") + bad_block, "failed at line 3\n"},    // bad data in a second member
      {bad_checksum, "failed at line 6\n"},
      {good + ">P9\nMK\n", "failed at line 6\n"},  // garbage after the member
  };
  for (const auto& [file, plain] : kCases) {
    SCOPED_TRACE(plain.substr(0, 20));
    const bool broken = plain.starts_with("failed at line");
    EXPECT_EQ(read_fasta_bytes(file, 1 << 20), broken ? plain : read_fasta_bytes(plain, 1 << 20));
    MemoryFileSystem files;
    files.files["f"] = file;
    files.block_bytes = 1;
    const std::unique_ptr<ByteSource> source = decompress_if_gzip(files.open_for_reading("f"));
    std::string out;
    for (char byte; source->read(&byte, 1) > 0;) out += byte;
    EXPECT_TRUE(broken || out == plain);
  }
}

}  // namespace
}  // namespace tarnel
