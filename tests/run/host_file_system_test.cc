// The host's real file system, in a scratch directory of its own. Under Wine these tests hold
// the Windows build to the same byte-exact behaviour as the POSIX one.
#include "run/host_file_system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "run/driver.h"
#include "run/host.h"
#include "test_support.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

class HostFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Random, since other runs of these tests may share the temporary directory.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device random;
    root_ = fs::temp_directory_path() / (std::string("tarnel-host-") + info->name() + "-" +
                                         std::to_string(random()) + std::to_string(random()));
    ASSERT_TRUE(fs::create_directories(root_));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A path in the scratch directory, joined the way the tool joins paths.
  std::string path(const std::string& name) const {
    return root_.string() + host::kDirectorySeparator + name;
  }

  static void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
  }
  static std::string get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> names_in(const std::string& directory) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  static std::string read_all(ByteSource& source) {
    std::string bytes;
    char block[7];  // small, so that the reads cross the interesting bytes
    for (;;) {
      const std::ptrdiff_t got = source.read(block, sizeof block);
      if (got <= 0) {
        EXPECT_EQ(0, got);
        return bytes;
      }
      bytes.append(block, static_cast<std::size_t>(got));
    }
  }

  fs::path root_;
  HostFileSystem files_;
};

TEST_F(HostFileSystemTest, ReadsEveryByteAsStored) {
  // CR LF, a lone CR, Ctrl-Z and NUL: a text-mode reader would change or stop at each.
  const std::string bytes(
      "head\r\nA\rB\x1a"
      "C\r\n\0tail\n\r",
      21);
  put(path("in.fa"), bytes);
  auto source = files_.open_for_reading(path("in.fa"));
  ASSERT_NE(nullptr, source);
  EXPECT_EQ(bytes, read_all(*source));
}

TEST_F(HostFileSystemTest, WritesEveryByteAsGiven) {
  const std::string bytes = "line one\nline two\r\n\x1a\nlast\n";
  auto staged = files_.stage(path("out.txt"));
  ASSERT_NE(nullptr, staged);
  ASSERT_TRUE(staged->write(bytes));
  ASSERT_TRUE(staged->finish());
  ASSERT_TRUE(staged->publish());
  EXPECT_EQ(bytes, get(path("out.txt")));
}

TEST_F(HostFileSystemTest, PublishReplacesAnExistingFile) {
  put(path("status"), "an older and longer content\n");
  auto staged = files_.stage(path("status"));
  ASSERT_NE(nullptr, staged);
  ASSERT_TRUE(staged->write("new\n"));
  ASSERT_TRUE(staged->finish());
  ASSERT_TRUE(staged->publish());
  staged.reset();
  EXPECT_EQ("new\n", get(path("status")));
  EXPECT_EQ(std::vector<std::string>{"status"}, names_in(root_.string()));
}

TEST_F(HostFileSystemTest, UnpublishedFileLeavesTheOldOneAndNoTemporary) {
  put(path("status"), "old\n");
  auto staged = files_.stage(path("status"));
  ASSERT_NE(nullptr, staged);
  ASSERT_TRUE(staged->write("new\n"));
  staged.reset();
  EXPECT_EQ("old\n", get(path("status")));
  EXPECT_EQ(std::vector<std::string>{"status"}, names_in(root_.string()));
}

TEST_F(HostFileSystemTest, OpenTemporaryCanBeRemoved) {
  // What the interrupt handler does while a species is being written.
  auto staged = files_.stage(path("status"));
  ASSERT_NE(nullptr, staged);
  ASSERT_TRUE(staged->write("partial"));
  const std::vector<std::string> names = names_in(root_.string());
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ(0, std::remove(path(names[0]).c_str()));
  staged.reset();
  EXPECT_TRUE(names_in(root_.string()).empty());
}

TEST_F(HostFileSystemTest, RefusesWhatItCannotOpenOrCreate) {
  fs::create_directories(root_ / "dir");
  EXPECT_EQ(nullptr, files_.open_for_reading(path("missing")));
  EXPECT_EQ(nullptr, files_.open_for_reading(path("dir")));
  EXPECT_EQ(nullptr, files_.stage(path("dir")));
  EXPECT_EQ(nullptr, files_.stage(path("no_such_dir") + host::kDirectorySeparator + "status"));
  EXPECT_EQ(std::vector<std::string>{"dir"}, names_in(root_.string()));
}

TEST_F(HostFileSystemTest, SlashesAreAcceptedInGivenPaths) {
  fs::create_directories(root_ / "sub");
  const std::string slashed = root_.string() + "/sub/file";
  put(slashed, "x\n");
  auto source = files_.open_for_reading(slashed);
  ASSERT_NE(nullptr, source);
  EXPECT_EQ("x\n", read_all(*source));
  auto staged = files_.stage(root_.string() + "/sub/other");
  ASSERT_NE(nullptr, staged);
  ASSERT_TRUE(staged->finish());
  EXPECT_TRUE(staged->publish());
}

TEST_F(HostFileSystemTest, OutputFileMayReplaceItsOwnInputFile) {
  // The input must be closed by the time its path is replaced: Windows refuses to replace a
  // file that is still open.
  fs::create_directories(root_ / "protein");
  put(path("all.txt"), "species_name\tFASTA_file_name\r\nyeast\tyeast.fa\r\n");
  put(path("protein") + host::kDirectorySeparator + "yeast.fa",
      ">B second\r\nMKV\r\n>A first\r\nMK\r\n");
  const std::vector<std::string> arguments = {"tarnel",
                                              "-i",
                                              path("protein"),
                                              "-o",
                                              path("protein"),
                                              "-p",
                                              "fa",
                                              "-w",
                                              "1",
                                              "-u",
                                              "0",
                                              "-c",
                                              "0",
                                              "-r",
                                              "2",
                                              path("all.txt"),
                                              path("all.txt")};
  testing::FakeClock clock;
  std::string console;
  EXPECT_EQ(0, testing::run_tool(arguments, console, clock, files_));
  EXPECT_EQ(std::string::npos, console.find("can't")) << console;
  EXPECT_EQ(">A\nMK\n>B\nMKV\n", get(path("protein") + host::kDirectorySeparator + "yeast.fa"));
  EXPECT_EQ(std::vector<std::string>{"yeast.fa"}, names_in(path("protein")));
}

}  // namespace
}  // namespace tarnel
