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
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "run/interrupt_cleanup.h"
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
  // Publishes one staged file; true when it was.
  bool publish(StagedFile& staged) {
    StagedFile* const files[] = {&staged};
    return files_.publish(files) == 1;
  }
  // Stages, writes and publishes a file in one go; true when all of it succeeded.
  bool replace(const std::string& name, std::string_view bytes) {
    const auto staged = files_.stage(path(name));
    return staged != nullptr && staged->write(bytes) && staged->finish() && publish(*staged);
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
    ASSERT_TRUE(!c.publish || publish(*staged));
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
  // More replaced files than are let go in the background.
  constexpr int kFiles = 150;
  for (int i = 0; i < kFiles; ++i) put("protein/" + std::to_string(i), "earlier\n");
  const std::ptrdiff_t handles_before = open_handles();
  {
    HostFileSystem files;
    for (int i = 0; i < kFiles; ++i) {
      auto staged = files.stage(path("protein/" + std::to_string(i)));
      ASSERT_NE(nullptr, staged);
      StagedFile* const one[] = {staged.get()};
      ASSERT_TRUE(staged->write(std::to_string(i)) && staged->finish() && files.publish(one) == 1);
    }
  }
  EXPECT_EQ(handles_before, open_handles());
  EXPECT_EQ(kFiles, files_left());
  for (int i = 0; i < kFiles; ++i)
    EXPECT_EQ(std::to_string(i), get("protein/" + std::to_string(i)));
}

std::ptrdiff_t temporaries_in(const std::string& directory) {
  std::ptrdiff_t count = 0;
  for (const auto& entry : fs::directory_iterator(directory)) {
    count += entry.path().filename().string().starts_with(".tn");
  }
  return count;
}

// A rename refused half-way through a publication: in a shared sticky directory, another
// user's file may be written by everyone but replaced only by its owner. Root may replace it,
// so the files are published by a child that has become another user.
TEST_F(HostFileSystemTest, AFailedPublicationPutsBackWhatItReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as two other users";
  constexpr uid_t kOwner = 12345;
  constexpr uid_t kRunner = 65534;
  for (const bool first_existed : {true, false}) {
    SCOPED_TRACE(first_existed ? "replacing a file" : "creating one");
    fs::create_directories(path("open"));
    fs::create_directories(path("shared"));
    ASSERT_EQ(0, chmod(path("open").c_str(), 0777));
    ASSERT_EQ(0, chmod(path("shared").c_str(), 01777));
    if (first_existed) put("open/first", "earlier\n");
    ASSERT_TRUE(!first_existed || chmod(path("open/first").c_str(), 0666) == 0);
    put("shared/second", "earlier\n");
    ASSERT_EQ(0, chown(path("shared/second").c_str(), kOwner, kOwner));
    ASSERT_EQ(0, chmod(path("shared/second").c_str(), 0666));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      _exit([&] {  // so that the staged files are gone before the child is
        if (setegid(kRunner) != 0 || seteuid(kRunner) != 0) return 10;
        HostFileSystem files;
        auto first = files.stage(path("open/first"));
        auto second = files.stage(path("shared/second"));
        if (first == nullptr || second == nullptr) return 11;
        StagedFile* const both[] = {first.get(), second.get()};
        for (StagedFile* file : both) {
          if (!file->write("new\n") || !file->finish()) return 12;
        }
        return static_cast<int>(files.publish(both));
      }());
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));  // the second could not be published
    EXPECT_EQ(first_existed, fs::exists(path("open/first")));
    EXPECT_TRUE(!first_existed || get("open/first") == "earlier\n");
    EXPECT_EQ("earlier\n", get("shared/second"));
    EXPECT_EQ(0, temporaries_in(path("open")) + temporaries_in(path("shared")));
    fs::remove_all(path("open"));
    fs::remove_all(path("shared"));
  }
}

// The system signals the run as a file is created, or renamed, in the protein directory: the
// interruption then comes at the very moment the temporary appears, or while the files are
// being published. Either way no temporary is left, and the two files are both as they were or
// both new.
TEST_F(HostFileSystemTest, AnInterruptionLeavesNoTemporaryAndNoHalfPublication) {
  const struct {
    unsigned long event;
    const char* left;  // in both files
  } kCases[] = {{DN_CREATE, "earlier\n"}, {DN_RENAME, "new\n"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.left);
    put("protein/one", "earlier\n");
    put("protein/two", "earlier\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      interrupt_cleanup::install();
      const int directory = open(path("protein").c_str(), O_RDONLY | O_DIRECTORY);
      if (directory < 0 || fcntl(directory, F_SETSIG, SIGTERM) != 0 ||
          fcntl(directory, F_NOTIFY, c.event) != 0) {
        _exit(10);
      }
      HostFileSystem files;
      auto one = files.stage(path("protein/one"));
      auto two = files.stage(path("protein/two"));
      if (one == nullptr || two == nullptr) _exit(11);
      StagedFile* const both[] = {one.get(), two.get()};
      for (StagedFile* file : both) {
        if (!file->write("new\n") || !file->finish()) _exit(12);
      }
      files.publish(both);
      _exit(13);  // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(c.left, get("protein/one"));
    EXPECT_EQ(c.left, get("protein/two"));
    EXPECT_EQ(2, files_left());
  }
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
