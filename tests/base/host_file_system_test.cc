// The host's real file system, in a scratch directory of its own. Under Wine these tests hold
// the Windows build to the same byte-exact behaviour as the POSIX one.
#include "base/host_file_system.h"

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

#include "base/host.h"
#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#include "base/interrupt_cleanup.h"
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

TEST_F(HostFileSystemTest, ALinkStaysAndTheFileItLeadsToIsReplaced) {
  fs::create_directories(path("elsewhere"));
  put("protein/target", "earlier\n");
  put("elsewhere/target", "earlier\n");
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link, what it holds
    std::string replaced;                                    // empty: staging fails
  } kCases[] = {
      {"beside its target", {{"protein/out", "target"}}, "protein/target"},
      {"into another directory", {{"protein/out", "../elsewhere/target"}}, "elsewhere/target"},
      {"absolute", {{"protein/out", path("elsewhere/target")}}, "elsewhere/target"},
      {"to a link", {{"protein/out", "l"}, {"protein/l", "target"}}, "protein/target"},
      {"leading nowhere", {{"protein/out", "../elsewhere/new"}}, "elsewhere/new"},
      {"leading into no directory", {{"protein/out", "../missing/new"}}, ""},
      {"in a loop", {{"protein/out", "link"}, {"protein/link", "out"}}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const auto& [link, target] : c.links) fs::create_symlink(target, path(link));
    EXPECT_EQ(!c.replaced.empty(), replace("protein/out", kBytes));
    EXPECT_TRUE(c.replaced.empty() || get(c.replaced) == kBytes);
    for (const auto& [link, target] : c.links) {
      EXPECT_EQ(target, fs::read_symlink(path(link)).string());
      fs::remove(path(link));
    }
    EXPECT_EQ(0, temporaries_in(path("protein")) + temporaries_in(path("elsewhere")));
    put(c.replaced.empty() ? "protein/target" : c.replaced, "earlier\n");
  }
}

TEST_F(HostFileSystemTest, AReplacedFileKeepsItsPermissionsAndGroup) {
  const bool root = geteuid() == 0;
  const struct {
    mode_t mode;
    gid_t group;  // set when root, who may give any group
  } kCases[] = {{0600, 0}, {0640, 12345}, {0666, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mode);
    put("protein/kept", "earlier\n");
    ASSERT_EQ(0, chmod(path("protein/kept").c_str(), c.mode));
    ASSERT_TRUE(!root || chown(path("protein/kept").c_str(), static_cast<uid_t>(-1), c.group) == 0);
    ASSERT_TRUE(replace("protein/kept", kBytes));
    struct stat info;
    ASSERT_EQ(0, stat(path("protein/kept").c_str(), &info));
    EXPECT_EQ(c.mode, info.st_mode & 07777);
    EXPECT_TRUE(!root || c.group == info.st_gid) << info.st_gid;
    EXPECT_EQ(geteuid(), info.st_uid);
  }
}

void alarm_in_milliseconds(int milliseconds) {
  itimerval timer = {};
  timer.it_value.tv_usec = milliseconds * 1000;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

TEST_F(HostFileSystemTest, AFifoOrDeviceIsWrittenInPlace) {
  files_.set_sync(true);  // nothing to flush there: that must not fail them
  ASSERT_EQ(0, mkfifo(path("protein/fifo").c_str(), 0600));
  fs::create_symlink("/dev/null", path("protein/null"));
  const struct {
    std::string path;
    fs::file_type type;  // of the path after writing, a link followed
  } kCases[] = {{path("protein/fifo"), fs::file_type::fifo},
                {"/dev/null", fs::file_type::character},
                {path("protein/null"), fs::file_type::character}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    std::string heard;
    std::thread reader;  // opening a FIFO to write waits for a reader
    struct sigaction interrupting = {}, before = {};
    if (c.type == fs::file_type::fifo) {
      // The reader comes late, and an alarm interrupts the wait for it (no SA_RESTART): the
      // open must be repeated. The reader takes no alarm.
      sigset_t alarm;
      sigemptyset(&alarm);
      sigaddset(&alarm, SIGALRM);
      pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
      reader = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::ifstream in(c.path, std::ios::binary);
        heard.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      });
      pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
      interrupting.sa_handler = [](int) {};
      sigaction(SIGALRM, &interrupting, &before);
      alarm_in_milliseconds(20);
    }
    auto staged = files_.stage(c.path);
    if (reader.joinable()) sigaction(SIGALRM, &before, nullptr);
    ASSERT_NE(nullptr, staged);
    EXPECT_TRUE(staged->write(kBytes) && staged->finish() && publish(*staged));
    staged.reset();
    if (reader.joinable()) {
      reader.join();
      EXPECT_TRUE(heard == kBytes);
    }
    EXPECT_EQ(c.type, fs::status(c.path).type());
  }
  EXPECT_TRUE(fs::is_symlink(path("protein/null")));
  EXPECT_EQ(2, files_left());
}

TEST_F(HostFileSystemTest, ALinkInASharedStickyDirectoryIsFollowedOnlyIfTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give files to other users";
  constexpr uid_t kOther = 12345;
  const struct {
    mode_t directory_mode;
    uid_t directory_owner;
    uid_t link_owner;
    bool followed;
  } kCases[] = {{01777, 0, kOther, false},
                {01777, 0, 0, true},
                {01777, kOther, kOther, true},
                {0777, 0, kOther, true},
                {01755, 0, kOther, true}};
  const std::string shared = path("shared");
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << std::oct << c.directory_mode << std::dec << " owned by "
                                      << c.directory_owner << ", link by " << c.link_owner);
    fs::create_directories(shared);
    put("protein/target", "earlier\n");
    fs::create_symlink(path("protein/target"), shared + "/out");
    ASSERT_EQ(0, lchown((shared + "/out").c_str(), c.link_owner, static_cast<gid_t>(-1)));
    ASSERT_EQ(0, chown(shared.c_str(), c.directory_owner, static_cast<gid_t>(-1)));
    ASSERT_EQ(0, chmod(shared.c_str(), c.directory_mode));
    EXPECT_EQ(c.followed, replace("shared/out", kBytes));
    EXPECT_EQ(c.followed, get("protein/target") == kBytes);
    EXPECT_TRUE(fs::is_symlink(shared + "/out"));
    fs::remove_all(shared);
  }
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
      HostFileSystem files;
      for (int i = 0; i < 9; ++i) files.stage(path("protein/one"));  // every slot used, and freed
      interrupt_cleanup::install();
      const int directory = open(path("protein").c_str(), O_RDONLY | O_DIRECTORY);
      if (directory < 0 || fcntl(directory, F_SETSIG, SIGTERM) != 0 ||
          fcntl(directory, F_NOTIFY, c.event) != 0) {
        _exit(10);
      }
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
