#include "species/output_writers.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnel {
namespace {

// Keeps what an OutputBuffer hands on.
class CapturedFile final : public StagedFile {
 public:
  std::string bytes;
  bool write(std::string_view more) override {
    bytes.append(more);
    return true;
  }
  bool finish() override { return true; }
  bool publish() override { return true; }
};

template <typename Write>
std::string written(Write write) {
  CapturedFile file;
  OutputBuffer buffer(file);
  write(buffer);
  EXPECT_TRUE(buffer.finish());
  return file.bytes;
}

TEST(WriteFastaEntry, WrapsAtEightyResiduesWithoutEmptyLines) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> line_lengths;
  } const kCases[] = {
      {1, {1}}, {79, {79}}, {80, {80}}, {81, {80, 1}}, {160, {80, 80}}, {239, {80, 80, 79}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.length);
    ProteinSet proteins;
    const ProteinRecord& protein = proteins.add("P1", std::string(c.length, 'A'));
    std::string expected = ">P1\n";
    for (const std::size_t n : c.line_lengths) expected += std::string(n, 'A') + "\n";
    EXPECT_EQ(written([&](OutputBuffer& out) { write_fasta_entry(out, protein); }), expected);
  }
}

TEST(WriteFastaEntry, WritesTheIdentifierAloneAndEmptyOnes) {
  ProteinSet proteins;
  proteins.add("P1", "MK");
  proteins.add("", "LL");
  EXPECT_EQ(written([&](OutputBuffer& out) {
              write_fasta_entry(out, proteins[0]);
              write_fasta_entry(out, proteins[1]);
            }),
            ">P1\nMK\n>\nLL\n");
}

TEST(WriteFastaEntry, HandsOnAVeryLongSequenceInBlocks) {
  ProteinSet proteins;
  const std::string sequence(3 * OutputBuffer::kBlockBytes + 17, 'W');
  proteins.add("big", sequence);
  const std::string bytes =
      written([&](OutputBuffer& out) { write_fasta_entry(out, proteins[0]); });
  EXPECT_EQ(bytes.size(), 5 + sequence.size() + (sequence.size() + 79) / 80);
  EXPECT_EQ(bytes.substr(bytes.size() - 18), std::string(17, 'W') + "\n");
}

TEST(BuildStatusMask, ActiveSpeciesSeeAllDotsOthersTheMask) {
  const ActivationMask mask = ". .";
  EXPECT_EQ(build_status_mask(mask, 0), "...");
  EXPECT_EQ(build_status_mask(mask, 1), ". .");
  EXPECT_EQ(build_status_mask(mask, 2), "...");
}

TEST(WriteStatusLine, RightAlignsFieldsAndWidensForLongNumbers) {
  struct Case {
    const char* name;
    std::int64_t line;
    std::int32_t ordinal;
    std::size_t length;
    std::string expected;
  } const kCases[] = {
      {"first protein", 1, 0, 344, "      1      0   344 . .\n"},
      {"eight-digit line number", 12345678, 7, 5, "12345678      7     5 . .\n"},
      {"long sequence", 10, 1234567, 123456, "     10 1234567 123456 . .\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ProteinSet proteins;
    ProteinRecord& protein = proteins.add("P", std::string(c.length, 'A'));
    protein.line = c.line;
    protein.ordinal = c.ordinal;
    EXPECT_EQ(written([&](OutputBuffer& out) { write_status_line(out, protein, ". ."); }),
              c.expected);
  }
}

TEST(WriteDuplicatesLine, NamesEachCopyInListOrder) {
  ProteinSet proteins;
  for (const char* id : {"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8", "P9"}) {
    proteins.add(id, "MK");
  }
  proteins[0].copies = {4, 9};
  proteins[3].copies = {1};
  EXPECT_EQ(written([&](OutputBuffer& out) {
              write_duplicates_line(out, proteins[0], proteins);
              write_duplicates_line(out, proteins[3], proteins);
            }),
            "P0\t2\tP4\tP9\nP3\t1\tP1\n");
}

}  // namespace
}  // namespace tarnel
