#include "species/output_writers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "test_support.h"

namespace tarnel {
namespace {

// What the writers put into a file through its buffer.
std::string written(const std::function<void(OutputBuffer&)>& write) {
  testing::MemoryFileSystem files;
  const std::unique_ptr<StagedFile> file = files.stage("out");
  OutputBuffer buffer(*file);
  write(buffer);
  StagedFile* const staged[] = {file.get()};
  EXPECT_TRUE(buffer.finish() && files.publish(staged) == 1);
  return files.files["out"];
}

TEST(WriteFastaEntry, WrapsAtEightyResiduesWithoutEmptyLines) {
  ProteinSet proteins;
  for (const std::size_t n : {79, 80, 81, 160}) {
    proteins.add("P" + std::to_string(n), std::string(n, 'A'));
  }
  proteins.add("", "MK");
  const std::string a79 = std::string(79, 'A') + "\n", a80 = std::string(80, 'A') + "\n";
  EXPECT_EQ(
      written([&](OutputBuffer& out) {
        for (const ProteinRecord& p : proteins.records) write_fasta_entry(out, p);
      }),
      ">P79\n" + a79 + ">P80\n" + a80 + ">P81\n" + a80 + "A\n>P160\n" + a80 + a80 + ">\nMK\n");
}

TEST(WriteFastaEntry, HandsOnASequenceLongerThanABlockWhole) {
  ProteinSet proteins;
  const std::size_t length = 3 * OutputBuffer::kBlockBytes + 17;
  const ProteinRecord& protein = proteins.add("big", std::string(length, 'W'));
  const std::string bytes = written([&](OutputBuffer& out) { write_fasta_entry(out, protein); });
  EXPECT_EQ(bytes.size(), 5 + length + (length + 79) / 80);
  EXPECT_EQ(bytes.substr(bytes.size() - 18), std::string(17, 'W') + "\n");
}

TEST(BuildStatusMask, ActiveSpeciesSeeAllDotsOthersTheMask) {
  EXPECT_EQ(build_status_mask(". .", 0), "...");
  EXPECT_EQ(build_status_mask(". .", 1), ". .");
  EXPECT_EQ(build_status_mask(". .", 2), "...");
}

TEST(WriteStatusLine, RightAlignsFieldsAndWidensForLongNumbers) {
  ProteinSet proteins;
  proteins.add("P", std::string(344, 'A')).line = 1;
  proteins.add("Q", "MKV").line = 12345678;
  EXPECT_EQ(written([&](OutputBuffer& out) {
              for (const ProteinRecord& p : proteins.records) write_status_line(out, p, ". .");
            }),
            "      1      0   344 . .\n12345678      1     3 . .\n");
}

TEST(WriteDuplicatesLine, NamesEachCopyInListOrder) {
  ProteinSet proteins;
  for (int i = 0; i < 10; ++i) proteins.add("P" + std::to_string(i), "MK");
  proteins[0].copies = {4, 9};
  EXPECT_EQ(written([&](OutputBuffer& out) { write_duplicates_line(out, proteins[0], proteins); }),
            "P0\t2\tP4\tP9\n");
}

}  // namespace
}  // namespace tarnel
