#include "species/compressed_source.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "run/console.h"
#include "run/line_reader.h"
#include "species/fasta_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::run_tool;

// One gzip member of `text`. `extra`, when given, goes into the header's extra field, as
// block-compressing tools put their block sizes there.
std::string gzip(std::string_view text, std::string extra = {}) {
  z_stream stream{};
  EXPECT_EQ(Z_OK, deflateInit2(&stream, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY));
  gz_header header{};
  if (!extra.empty()) {
    header.extra = reinterpret_cast<Bytef*>(extra.data());
    header.extra_len = static_cast<uInt>(extra.size());
    EXPECT_EQ(Z_OK, deflateSetHeader(&stream, &header));
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// The empty member that block-compressed files end with.
const std::string kBlockEndMember(
    "\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00\x42\x43\x02\x00\x1b\x00\x03\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00",
    28);

// Hands out its bytes in blocks of a fixed size, as a pipe might; can fail after some reads.
class ChunkedSource final : public ByteSource {
 public:
  ChunkedSource(std::string bytes, std::size_t block, int reads_before_error = -1)
      : bytes_(std::move(bytes)), block_(block), reads_left_(reads_before_error) {}
  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    if (reads_left_ == 0) return -1;
    if (reads_left_ > 0) --reads_left_;
    const std::size_t n = std::min({capacity, block_, bytes_.size() - next_});
    std::copy_n(bytes_.data() + next_, n, buffer);
    next_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string bytes_;
  std::size_t block_;
  int reads_left_;
  std::size_t next_ = 0;
};

struct Drained {
  std::string bytes;
  bool failed = false;
};

// Reads the source to its end or its first error, `capacity` bytes at a time.
Drained drain(ByteSource& source, std::size_t capacity) {
  Drained result;
  std::vector<char> buffer(capacity);
  for (;;) {
    const std::ptrdiff_t got = source.read(buffer.data(), buffer.size());
    if (got < 0) {
      result.failed = true;
      return result;
    }
    if (got == 0) return result;
    result.bytes.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

Drained drain_file(std::string file, std::size_t block, std::size_t capacity = 1 << 16) {
  auto source = decompress_if_gzip(std::make_unique<ChunkedSource>(std::move(file), block));
  return drain(*source, capacity);
}

// Enough text for several compressed input blocks and several output buffers.
std::string long_text() {
  std::string text;
  std::uint32_t state = 12345;
  for (int record = 0; record < 6000; ++record) {
    text += ">P" + std::to_string(record) + " a protein\n";
    for (int i = 0; i < 130; ++i) {
      state = state * 1103515245u + 12345u;
      text.push_back("ACDEFGHIKLMNPQRSTVWY"[(state >> 16) % 20]);
      if (i % 60 == 59) text.push_back('\n');
    }
    text.push_back('\n');
  }
  return text;
}

TEST(CompressedSourceTest, PlainBytesPassUnchanged) {
  const struct {
    const char* name;
    std::string file;
  } kCases[] = {
      {"empty", ""},
      {"one byte", ">"},
      {"first magic byte alone", "\x1f"},
      {"first magic byte then other", "\x1f\x8c rest"},
      {"second magic byte first", "\x8b\x1f"},
      {"fasta", ">P1\nMKV\n"},
      {"magic later in the file", ">P1\n\x1f\x8b\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{4096}}) {
      SCOPED_TRACE(block);
      const Drained got = drain_file(c.file, block);
      EXPECT_FALSE(got.failed);
      EXPECT_EQ(c.file, got.bytes);
    }
  }
}

TEST(CompressedSourceTest, GzipIsDecompressedWhateverTheBlockSizes) {
  const std::string text = long_text();
  const std::string file = gzip(text);
  const struct {
    std::size_t block;
    std::size_t capacity;
  } kCases[] = {{1, 1 << 16}, {3, 7}, {1 << 20, 1}, {1 << 20, 1 << 20}, {4096, 65536 + 65535}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.block << " " << c.capacity);
    const Drained got = drain_file(file, c.block, c.capacity);
    EXPECT_FALSE(got.failed);
    EXPECT_TRUE(got.bytes == text);
  }
}

TEST(CompressedSourceTest, MembersAreReadAsOneStream) {
  const std::string text = long_text();
  const std::string head = text.substr(0, 100000);
  const std::string tail = text.substr(100000);
  const std::string block_extra("BC\x02\x00xx", 6);
  const struct {
    const char* name;
    std::string file;
    std::string expected;
  } kCases[] = {
      {"two members", gzip(head) + gzip(tail), text},
      {"empty member between", gzip(">P1\n") + gzip("") + gzip("MKV\n"), ">P1\nMKV\n"},
      {"block-compressed", gzip(head, block_extra) + gzip(tail, block_extra) + kBlockEndMember,
       text},
      {"end member alone", kBlockEndMember, ""},
      {"empty text", gzip(""), ""},
      {"member split at a line", gzip(">P1\nMK") + gzip("V\n>P2\nLL"), ">P1\nMKV\n>P2\nLL"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const std::size_t block : {std::size_t{1}, std::size_t{1} << 20}) {
      const Drained got = drain_file(c.file, block);
      EXPECT_FALSE(got.failed);
      EXPECT_TRUE(got.bytes == c.expected);
    }
  }
}

TEST(CompressedSourceTest, CutStreamFailsAfterTheBytesBeforeTheCut) {
  const std::string text = ">P1 first\nMKVLLA\n>P2\nMK\n";
  const std::string whole = gzip(text) + gzip(text);
  // Every cut, including inside the header, the data and the trailer of either member.
  for (std::size_t size = 2; size < whole.size(); ++size) {
    if (size == whole.size() / 2) continue;  // a whole first member is a complete stream
    SCOPED_TRACE(size);
    const Drained got = drain_file(whole.substr(0, size), 5);
    EXPECT_TRUE(got.failed);
    EXPECT_EQ(0u, (text + text).rfind(got.bytes, 0)) << "not a prefix: " << got.bytes;
  }
}

TEST(CompressedSourceTest, DamagedStreamFails) {
  const std::string text = long_text().substr(0, 50000);
  const std::string good = gzip(text);
  const auto with_byte = [&good](std::size_t at, char value) {
    std::string bad = good;
    bad[at] = value;
    return bad;
  };
  const auto flipped = [&good, &with_byte](std::size_t at) {
    return with_byte(at, static_cast<char>(good[at] ^ 0x55));
  };
  const struct {
    const char* name;
    std::string file;
  } kCases[] = {
      {"magic alone", good.substr(0, 2)},
      {"unknown method", with_byte(2, 7)},
      {"damaged data", flipped(good.size() / 2)},
      {"wrong checksum", flipped(good.size() - 6)},
      {"wrong length", flipped(good.size() - 2)},
      {"text after the stream", good + ">P9\nMK\n"},
      {"zeros after the stream", good + std::string(512, '\0')},
      {"second member cut", good + gzip(text).substr(0, 100)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(drain_file(c.file, 1 << 20).failed);
  }
}

TEST(CompressedSourceTest, ReadErrorsOfTheFileAreReadErrors) {
  const std::string file = gzip(long_text());
  for (const int reads : {0, 1, 2, 5}) {
    SCOPED_TRACE(reads);
    auto gzipped = decompress_if_gzip(std::make_unique<ChunkedSource>(file, 4096, reads));
    EXPECT_TRUE(drain(*gzipped, 1 << 16).failed);
    auto plain = decompress_if_gzip(std::make_unique<ChunkedSource>(">P1\nMKV\n", 1, reads));
    EXPECT_TRUE(drain(*plain, 1 << 16).failed);
  }
}

// The FASTA reader sees the decompressed bytes: records, offsets, line numbers and messages are
// those of the plain twin.
TEST(CompressedFastaTest, CompressedFileReadsLikeItsPlainTwin) {
  const std::string long_line(kMaxLineBytes, 'M');
  const struct {
    const char* name;
    std::string text;
  } kCases[] = {
      {"line feeds", ">P1 desc\nMKV\nLLA\n>P2\nMK\n"},
      {"carriage returns", ">P1 desc\r\nMKV\r\nLLA\r\n>P2\r\nMK\r\n"},
      {"no final line feed", ">P1 desc\nMKV\nLLA\n>P2\nMK"},
      {"carriage returns, no final line feed", ">P1\r\nMKV\r\n>P2\r\nMK"},
      {"empty", ""},
      {"long", long_text()},
      {"longest line", ">P1\n" + long_line + "\n"},
      {"line too long", ">P1\nMK\n" + long_line + "V\n"},
      {"empty line", ">P1\nMK\n\n>P2\nMK\n"},
      {"no sequence", ">P1\n>P2\nMK\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["in/plain.fa"] = c.text;
    files.files["in/packed.fa"] = gzip(c.text);
    std::ostringstream plain_out;
    std::ostringstream packed_out;
    Console plain_console(plain_out);
    Console packed_console(packed_out);
    ProteinSet plain;
    ProteinSet packed;
    const bool plain_ok = read_fasta(files, plain_console, "in/", "plain.fa", plain);
    const bool packed_ok = read_fasta(files, packed_console, "in/", "packed.fa", packed);
    EXPECT_EQ(plain_ok, packed_ok);
    EXPECT_EQ(plain_out.str(), packed_out.str());
    ASSERT_EQ(plain.records.size(), packed.records.size());
    for (std::size_t i = 0; i < plain.records.size(); ++i) {
      EXPECT_EQ(plain.records[i].identifier, packed.records[i].identifier);
      EXPECT_TRUE(plain.records[i].sequence == packed.records[i].sequence);
      EXPECT_EQ(plain.records[i].offset, packed.records[i].offset);
      EXPECT_EQ(plain.records[i].line, packed.records[i].line);
      EXPECT_EQ(plain.records[i].ordinal, packed.records[i].ordinal);
    }
  }
}

TEST(CompressedFastaTest, BrokenStreamFailsAtTheLineBeingRead) {
  const std::string text = ">P1 desc\nMKV\nLLA\n>P2\nMK";
  const std::string good = gzip(text);
  const std::string big = long_text();
  const std::string big_packed = gzip(big);
  const std::string big_cut = big_packed.substr(0, big_packed.size() / 2);
  const std::string with_final_lf = gzip(text + "\n");
  // The line being read when the stream broke is the one after the last whole line delivered.
  const Drained delivered = drain_file(big_cut, 1 << 20);
  const auto big_line =
      std::to_string(std::count(delivered.bytes.begin(), delivered.bytes.end(), '\n') + 1);
  const struct {
    const char* name;
    std::string file;
    std::string message;
  } kCases[] = {
      {"magic alone", good.substr(0, 2), "failed at line 1\n"},
      {"cut in the trailer", good.substr(0, good.size() - 4), "failed at line 5\n"},
      {"cut after a final line feed", with_final_lf.substr(0, with_final_lf.size() - 4),
       "failed at line 6\n"},
      {"wrong checksum",
       good.substr(0, good.size() - 8) + "\1\2\3\4" + good.substr(good.size() - 4),
       "failed at line 5\n"},
      {"cut in the middle", big_cut, "failed at line " + big_line + "\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["in/packed.fa"] = c.file;
    std::ostringstream out;
    Console console(out);
    ProteinSet proteins;
    EXPECT_FALSE(read_fasta(files, console, "in/", "packed.fa", proteins));
    EXPECT_EQ(c.message, out.str());
  }
}

// A whole run: a compressed species gives its plain twin's files, and a broken one fails alone
// and leaves no file behind.
TEST(CompressedFastaTest, RunReadsCompressedSpecies) {
  const std::string text = ">P1 desc\r\nMKV\r\nLLA\r\n>P2\r\nMK\r\n>P3\r\nMKVLLA\r\n>P4\r\nMK";
  MemoryFileSystem files;
  files.directories = {"", "status/", "dup/"};
  files.files["all.txt"] =
      "species_name\tFASTA_file_name\nPlain\tplain.fa\nPacked\tpacked.fa.gz\n"
      "Named\tnamed.fa\nBroken\tbroken.gz\n";
  files.files["active.txt"] = "species_name\tFASTA_file_name\n";
  files.files["protein/plain.fa"] = text;
  files.files["protein/packed.fa.gz"] = gzip(text);
  files.files["protein/named.fa"] = gzip(text.substr(0, 20)) + gzip(text.substr(20));
  const std::string broken = gzip(text);
  files.files["protein/broken.gz"] = broken.substr(0, broken.size() - 1);
  FakeClock clock;
  std::string out;
  EXPECT_EQ(0, run_tool({"tarnel", "active.txt", "all.txt"}, out, clock, files));

  EXPECT_NE(std::string::npos, out.find("Broken...")) << out;
  EXPECT_NE(std::string::npos, out.find("failed at line 9\n")) << out;
  EXPECT_EQ(0u, files.files.count("status/Broken"));
  EXPECT_EQ(0u, files.files.count("dup/Broken.tsv"));
  ASSERT_EQ(1u, files.files.count("status/Plain"));
  ASSERT_EQ(1u, files.files.count("dup/Plain.tsv"));
  EXPECT_NE("", files.files["dup/Plain.tsv"]);
  for (const char* species : {"Packed", "Named"}) {
    SCOPED_TRACE(species);
    EXPECT_EQ(files.files["status/Plain"], files.files[std::string("status/") + species]);
    EXPECT_EQ(files.files["dup/Plain.tsv"], files.files[std::string("dup/") + species + ".tsv"]);
  }
}

}  // namespace
}  // namespace tarnel
