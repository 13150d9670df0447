// A large file's blocks are written on a helper thread, one block behind; every byte must
// still arrive in order, and a failed write must still fail the file.
#include "species/output_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace tarnel {
namespace {

TEST(OutputBuffer, DeliversEveryByteInOrderAndReportsFailedWrites) {
  constexpr std::size_t kBlock = OutputBuffer::kBlockBytes;
  const struct {
    const char* name;
    std::size_t bytes;
  } kSizes[] = {{"empty", 0},
                {"under a block", kBlock - 1},
                {"one block and a byte", kBlock + 1},
                {"two blocks, the first written on the helper", 2 * kBlock + 333},
                {"seven blocks", 7 * kBlock + 12345}};
  for (const auto& size : kSizes) {
    for (const bool failing : {false, true}) {
      SCOPED_TRACE(std::string(size.name) + (failing ? ", failing" : ""));
      testing::MemoryFileSystem files;
      if (failing) files.write_error.insert("out");
      const std::unique_ptr<StagedFile> file = files.stage("out");
      std::string expected;
      {
        OutputBuffer buffer(*file);
        // Pieces of uneven length, each numbered, so that a lost or repeated block shows.
        for (std::size_t piece = 0; expected.size() < size.bytes; ++piece) {
          std::string text = std::to_string(piece) + std::string(piece % 997, 'x') + '\n';
          text.resize(std::min(text.size(), size.bytes - expected.size()));
          buffer.bytes() += text;
          expected += text;
          buffer.pass_full_blocks();
        }
        EXPECT_EQ(!failing || size.bytes == 0, buffer.finish());
      }
      if (!failing) {
        StagedFile* const staged[] = {file.get()};
        ASSERT_EQ(1u, files.publish(staged));
        EXPECT_TRUE(files.files["out"] == expected);
      }
    }
  }
}

}  // namespace
}  // namespace tarnel
