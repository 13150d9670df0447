#include "species/output_buffer.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tarnel {
namespace {

// Takes a block, then meets a failing disk; its close leaves errno alone.
class FailingFile final : public StagedFile {
 public:
  bool write(std::string_view) override {
    if (++writes_ < 3) return true;
    errno = EIO;
    return false;
  }
  bool finish() override { return true; }

 private:
  int writes_ = 0;
};

// Later blocks are written on a thread of their own, whose errno is not the caller's: the
// reason a species reports must still be the failed write's.
TEST(OutputBufferTest, AFailedBlockGivesItsReason) {
  FailingFile file;
  OutputBuffer buffer(file);
  for (int block = 0; block < 4; ++block) {
    buffer.bytes().append(OutputBuffer::kBlockBytes, 'M');
    buffer.pass_full_blocks();
  }
  errno = 0;
  EXPECT_FALSE(buffer.finish());
  EXPECT_EQ(EIO, errno);
}

}  // namespace
}  // namespace tarnel
