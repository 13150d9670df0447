#include "species/compressed_source.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "base/line_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

using namespace std::string_literals;
using testing::MemoryFileSystem;

// One gzip member of `text`.
std::string gzip(std::string_view text) {
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
  return out;
}

// A member as block-compressing tools write it: its header carries an extra field.
std::string block_member(std::string_view text) {
  std::string member = gzip(text);
  member[3] |= 4;                                                 // FEXTRA
  return member.insert(10, "\x06\x00\x42\x43\x02\x00\x00\x00"s);  // 6 bytes: "BC", 2 bytes
}

// The empty member such files end with.
const std::string kEndMember =
    "\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00\x42\x43\x02\x00\x1b\x00\x03\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00"s;

// Everything the source over `file` delivers, read `capacity` bytes at a time; "!" marks an error.
std::string drain(const std::string& file, std::size_t block, std::size_t capacity) {
  MemoryFileSystem files;
  files.files["f"] = file;
  files.block_bytes = block;
  const std::unique_ptr<ByteSource> source = decompress_if_gzip(files.open_for_reading("f"));
  std::string buffer(capacity, '\0'), out;
  for (std::ptrdiff_t got; (got = source->read(buffer.data(), capacity)) != 0;) {
    if (got < 0) return out + "!";
    out.append(buffer, 0, static_cast<std::size_t>(got));
  }
  return out;
}

const std::string kText = ">P1 desc\nMKV\nLLA\n>P2\nMK\n";

// A plain file is delivered as stored; a compressed one exactly as its plain twin, whether in
// one member or in several.
TEST(CompressedSource, DeliversTheBytesOfThePlainTwin) {
  const std::string crlf = ">P1 desc\r\nMKV\r\nLLA\r\n>P2\r\nMK\r\n", no_lf = ">P1\nMKV\n>P2\nMK";
  const std::string too_long = ">P1\nMK\n" + std::string(kMaxLineBytes + 1, 'M') + "\n";
  const struct {
    const char* name;
    std::string file;
    std::string expected;
  } kCases[] = {
      {"empty plain file", "", ""},
      {"first magic byte alone", "\x1f", "\x1f"},
      {"first magic byte, then another", "\x1f\x8c rest", "\x1f\x8c rest"},
      {"line feeds", gzip(kText), kText},
      {"CR LF", gzip(crlf), crlf},
      {"no final line feed", gzip(no_lf), no_lf},
      {"empty", gzip(""), ""},
      {"a line too long", gzip(too_long), too_long},
      {"two members", gzip(kText.substr(0, 9)) + gzip(kText.substr(9)), kText},
      {"an empty member between", gzip(">P1\n") + gzip("") + gzip("MKV\n"), ">P1\nMKV\n"},
      {"block members and the end member",
       block_member(kText.substr(0, 9)) + block_member(kText.substr(9)) + kEndMember, kText},
      {"the end member alone", kEndMember, ""},
  };
  // Reads of a byte at a time, in and out, and of large blocks.
  const std::pair<std::size_t, std::size_t> kReads[] = {{1, 1}, {1 << 20, 1 << 16}};
  for (const auto& c : kCases) {
    for (const auto& [block, capacity] : kReads) {
      SCOPED_TRACE(::testing::Message() << c.name << ", blocks of " << block);
      EXPECT_EQ(drain(c.file, block, capacity), c.expected);
    }
  }
}

// A stream cut short or damaged fails at the line being read when it broke: every byte before
// the damage is delivered.
TEST(CompressedSource, BrokenStreamFailsAtTheLineBeingRead) {
  std::mt19937 random(1);
  std::string residues;  // random enough that half the stream holds part of them
  while (residues.size() < 3000) residues += "ACDEFGHIKLMNPQRSTVWY"[random() % 20];
  const std::string text = ">P1 desc\nMKV\n>P2\n" + residues + "\n>P3\nLL";  // six lines
  const std::string good = gzip(text), with_lf = gzip(text + "\n");
  std::string bad_block = gzip("LL\n");
  bad_block[10] = '\xff';  // the first block claims a type that does not exist
  std::string bad_checksum = good;
  bad_checksum[good.size() - 8] ^= 1;
  const struct {
    const char* name;
    std::string file;
    int line;
  } kCases[] = {
      {"magic bytes alone", good.substr(0, 2), 1},
      {"cut in the data", good.substr(0, good.size() / 2), 4},
      {"cut in the trailer", good.substr(0, good.size() - 4), 6},
      {"cut after a final line feed", with_lf.substr(0, with_lf.size() - 4), 7},
      {"bad data in a second member", gzip(kText) + bad_block, 6},
      {"bad checksum", bad_checksum, 6},
      {"garbage after the member", good + ">P9\nMK\n", 6},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testing::read_fasta_bytes(c.file, 1 << 20),
              "failed at line " + std::to_string(c.line) + "\n");
  }
}

// In a whole run, a cut-off species fails alone and writes nothing.
TEST(CompressedSource, RunReadsCompressedSpecies) {
  const std::string packed = gzip(">P1\r\nMKV\r\n>P2\r\nMKV\r\n>P3\r\nLL");
  MemoryFileSystem files;
  files.directories = {"", "status/", "dup/"};
  files.files["all.txt"] = "h\nPacked\tp.fa.gz\nBroken\tb.gz\n";
  files.files["act.txt"] = "h\n";
  files.files["protein/p.fa.gz"] = packed;
  files.files["protein/b.gz"] = packed.substr(0, packed.size() - 1);
  testing::FakeClock clock;
  std::string out;
  EXPECT_EQ(testing::run_tool({"tarnel", "act.txt", "all.txt"}, out, clock, files), 0);
  EXPECT_NE(out.find("Broken...                           failed at line 6\n"), std::string::npos);
  EXPECT_NE(out.find("Species_OK:1  Errors:1"), std::string::npos);
  EXPECT_EQ(files.files.count("status/Broken") + files.files.count("dup/Broken.tsv"), 0u);
  EXPECT_EQ(files.staged_alive, 0);
  EXPECT_EQ(files.files["dup/Packed.tsv"], "P1\t1\tP2\n");
}

}  // namespace
}  // namespace tarnel
