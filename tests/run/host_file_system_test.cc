// The host's real file system, in a scratch directory of its own. Under Wine these tests hold
// the Windows build to the same byte-exact behaviour as the POSIX one.
#include "run/host_file_system.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "run/host.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

class HostFileSystemTest : public ::testing::Test {
 protected:
  HostFileSystemTest() { fs::create_directories(path("protein")); }
  ~HostFileSystemTest() override { fs::remove_all(root_); }

  // A path in the scratch directory, joined the way the tool joins paths.
  std::string path(const std::string& name) const {
    return root_ + host::kDirectorySeparator + name;
  }
  void put(const std::string& name, std::string_view bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string get(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Files in the protein directory, temporaries included.
  std::ptrdiff_t files_left() const {
    return std::distance(fs::directory_iterator(path("protein")), fs::directory_iterator());
  }

  // Random, since other runs of these tests may share the temporary directory.
  const std::string root_ =
      (fs::temp_directory_path() / ("tarnel-host-" + std::to_string(std::random_device()())))
          .string();
  HostFileSystem files_;
};

// CR LF, a lone CR, Ctrl-Z and NUL: a text-mode stream would change or stop at each.
constexpr std::string_view kBytes = "head\r\nA\rB\x1aZ\r\n\0tail\n\r"sv;

TEST_F(HostFileSystemTest, ReadsEveryByteAsStored) {
  put("protein/f", kBytes);
  auto source = files_.open_for_reading(path("protein/f"));
  ASSERT_NE(nullptr, source);
  std::string read;
  char block[7];  // small, so that the reads cross the interesting bytes
  for (std::ptrdiff_t got; (got = source->read(block, sizeof block)) > 0;) {
    read.append(block, static_cast<std::size_t>(got));
  }
  EXPECT_TRUE(read == kBytes);
}

TEST_F(HostFileSystemTest, OnlyAPublishedFileReplacesTheEarlierOne) {
  const struct {
    const char* name;
    bool finish;
    bool remove_temporary;  // while it is open, as the interrupt handler does
    bool publish;
  } kCases[] = {{"published", true, false, true},
                {"abandoned while written", false, false, false},
                {"abandoned once finished", true, false, false},
                {"temporary removed while open", false, true, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string earlier = "an earlier and longer content\n";
    put("protein/status", earlier);
    auto staged = files_.stage(path("protein/status"));
    ASSERT_NE(nullptr, staged);
    ASSERT_TRUE(staged->write(kBytes));
    ASSERT_TRUE(!c.finish || staged->finish());
    for (const auto& entry : fs::directory_iterator(path("protein"))) {
      if (c.remove_temporary && entry.path().filename() != "status") {
        EXPECT_EQ(0, std::remove(entry.path().string().c_str()));
      }
    }
    ASSERT_TRUE(!c.publish || staged->publish());
    staged.reset();
    EXPECT_TRUE(get("protein/status") == (c.publish ? kBytes : earlier));
    EXPECT_EQ(1, files_left());  // no temporary left
  }
}

#ifndef _WIN32
std::ptrdiff_t open_handles() {
  return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

TEST_F(HostFileSystemTest, ReplacedFilesAreAllLetGoWhenTheFileSystemGoes) {
  // More replaced files than are let go in the background, and one at a path whose opening
  // would block: a FIFO.
  constexpr int kFiles = 150;
  for (int i = 0; i < kFiles; ++i) put("protein/" + std::to_string(i), "earlier\n");
  ASSERT_EQ(0, mkfifo(path("protein/fifo").c_str(), 0666));
  const std::ptrdiff_t handles_before = open_handles();
  {
    HostFileSystem files;
    for (const char* name : {"fifo", "new"}) {
      auto staged = files.stage(path(std::string("protein/") + name));
      ASSERT_NE(nullptr, staged);
      ASSERT_TRUE(staged->write(name) && staged->finish() && staged->publish());
    }
    for (int i = 0; i < kFiles; ++i) {
      auto staged = files.stage(path("protein/" + std::to_string(i)));
      ASSERT_NE(nullptr, staged);
      ASSERT_TRUE(staged->write(std::to_string(i)) && staged->finish() && staged->publish());
    }
  }
  EXPECT_EQ(handles_before, open_handles());
  EXPECT_EQ(kFiles + 2, files_left());
  EXPECT_EQ("fifo", get("protein/fifo"));
  for (int i = 0; i < kFiles; ++i)
    EXPECT_EQ(std::to_string(i), get("protein/" + std::to_string(i)));
}
#endif

TEST_F(HostFileSystemTest, OutputFileMayReplaceItsOwnInputFile) {
  // The input must be closed by the time its path is replaced: Windows refuses to replace a
  // file that is still open.
  put("all.txt", "species_name\tFASTA_file_name\r\nyeast\tyeast.fa\r\n");
  put("protein/yeast.fa", ">B second\r\nMKV\r\n>A first\r\nMK\r\n");
  const std::string protein = path("protein");
  const std::string list = path("all.txt");
  const std::vector<std::string> arguments = {"tarnel", "-i", protein, "-o", protein, "-p",
                                              "fa",     "-w", "1",     "-u", "0",     "-c",
                                              "0",      "-r", "2",     list, list};
  testing::FakeClock clock;
  std::string console;
  EXPECT_EQ(0, testing::run_tool(arguments, console, clock, files_));
  EXPECT_EQ(std::string::npos, console.find("can't")) << console;
  EXPECT_EQ(">A\nMK\n>B\nMKV\n", get("protein/yeast.fa"));
  EXPECT_EQ(1, files_left());
}

}  // namespace
}  // namespace tarnel
