// The host's real file system, in a scratch directory of its own: what whole runs and the fault
// sweep do not reach. Under Wine these tests hold the Windows build to the same bytes.
#include "base/host_file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>
#include <vector>

#include "base/content_size.h"
#include "base/host.h"
#include "run/driver.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#endif

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

// CR LF, a lone CR, Ctrl-Z and NUL: a text-mode stream would change or stop at each.
constexpr std::string_view kBytes = "head\r\nA\rB\x1aZ\r\n\0tail\n\r"sv;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class HostFileSystemTest : public ::testing::Test {
 protected:
  HostFileSystemTest() { fs::create_directories(path("protein")); }
  ~HostFileSystemTest() override { fs::remove_all(root_); }

  std::string path(const std::string& name) const {
    return root_ + host::kDirectorySeparator + name;
  }
  void put(const std::string& name, std::string_view bytes, int minutes_old = 0) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    fs::last_write_time(path(name), fs::file_time_type::clock::now() - 1min * minutes_old);
  }
  // Files in the directory, temporaries included.
  std::ptrdiff_t files_in(const std::string& name) const {
    return std::distance(fs::directory_iterator(path(name)), fs::directory_iterator());
  }
  bool replace(const std::string& target, std::string_view bytes, bool publish = true) {
    const auto staged = files_.stage(target);
    StagedFile* const files[] = {staged.get()};
    return staged && staged->write(bytes) && staged->finish() &&
           (!publish || files_.publish(files) == 1);
  }

#ifndef _WIN32
  // Declared before the file system, so that it looks once that is gone: every handle it took,
  // of a file, a directory or a replaced file let go in the background, is closed by then.
  struct HandleCount {
    static std::ptrdiff_t now() {
      return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    }
    const std::ptrdiff_t before = now();
    ~HandleCount() { EXPECT_EQ(before, now()); }
  } handles_;
#endif
  // Random, since other runs of these tests may share the temporary directory.
  const std::string root_ =
      (fs::temp_directory_path() / ("tarnel-host-" + std::to_string(std::random_device()())))
          .string();
  HostFileSystem files_;
};

TEST_F(HostFileSystemTest, OnlyAPublishedFileReplacesTheEarlierOne) {
  // Finished, the temporary removed while open (as on Ctrl-C), published.
  const std::tuple<const char*, bool, bool, bool> kCases[] = {
      {"published", true, false, true},
      {"abandoned once finished", true, false, false},
      {"temporary removed while open", false, true, false}};
  for (const auto& [name, finish, remove_temporary, publish] : kCases) {
    SCOPED_TRACE(name);
    put("protein/status", "an earlier and longer content\n");
    auto staged = files_.stage(path("protein/status"));
    ASSERT_TRUE(staged != nullptr && staged->write(kBytes) && (!finish || staged->finish()));
    for (const auto& entry : fs::directory_iterator(path("protein"))) {
      if (remove_temporary && entry.path().filename() != "status") fs::remove(entry.path());
    }
    StagedFile* const files[] = {staged.get()};
    ASSERT_TRUE(!publish || files_.publish(files) == 1);
    staged.reset();
    EXPECT_EQ(read_file(path("protein/status")),
              publish ? kBytes : "an earlier and longer content\n");
    EXPECT_EQ(1, files_in("protein"));  // no temporary left
  }
}

TEST_F(HostFileSystemTest, ContentBytesFromTheGzipTrailerOfOneMemberOrTheStoredSize) {
  // A gzip header, and one whose extra field (flag 4) is a blocked file's "BC".
  const std::string head("\x1f\x8b\x08\0\0\0\0\0\0\0", 10),
      blocked("\x1f\x8b\x08\4\0\0\0\0\0\0\6\0BC", 14), says_1000("xxxx\xe8\x03\0\0", 8);
  const std::pair<std::string, std::uint64_t> kCases[] = {
      {">P\nMK\n", 6},
      {head + says_1000, 1000},
      {head + "xxxx\5\0\0\0"s, 18 * kCompressionEstimate},  // below the size: several members
      {blocked + says_1000, 22 * kCompressionEstimate},
  };
  for (const auto& [bytes, content] : kCases) {
    SCOPED_TRACE(content);
    put("protein/f", bytes);
    EXPECT_EQ(content, files_.content_bytes(path("protein/f")));
  }
  EXPECT_EQ(0u, files_.content_bytes(path("missing")));
  EXPECT_EQ(std::nullopt, files_.content_bytes(path("protein")));
}

// Leftovers of killed runs, removed by the first file staged in their directory: only files
// named exactly as temporaries are, unmodified for 10 minutes, of a process not running here.
TEST_F(HostFileSystemTest, OnlyOldTemporariesOfEndedProcessesAreRemoved) {
  // Process 0x7ffffffc (zik0zg in base 36) is never one here; 1z141z3 is the largest number.
  const std::tuple<std::string, int, bool> kCases[] = {
      {".tnzik0zg-1", 11, true},  {".tnzik0zg-2", 9, false},       {".tnzik0zg-Z", 11, false},
      {".tnzik0zg-", 11, false},  {".tnzik0zg-3x.tmp", 11, false}, {"tnzik0zg-4", 11, false},
      {".tn1z141z3-1", 11, true},
#ifndef _WIN32
      {".tn1-2", 11, false},  // init: running, another user's unless we are root
#endif
  };
  for (const auto& [name, minutes, removed] : kCases) put("protein/" + name, "x", minutes);
  ASSERT_TRUE(replace(path("protein/status"), "", false));
  for (const auto& [name, minutes, removed] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(removed, !fs::exists(path("protein/" + name)));
  }
}

#ifndef _WIN32
TEST_F(HostFileSystemTest, ALinkStaysAndTheFileItLeadsToIsReplaced) {
  fs::create_directories(path("elsewhere"));
  // Links with what each holds, and the file replaced (none: staging fails).
  using Links = std::vector<std::pair<std::string, std::string>>;
  const std::tuple<const char*, Links, std::string> kCases[] = {
      {"beside its target", {{"protein/out", "target"}}, "protein/target"},
      {"into another directory", {{"protein/out", "../elsewhere/target"}}, "elsewhere/target"},
      {"absolute", {{"protein/out", path("elsewhere/target")}}, "elsewhere/target"},
      {"to a link", {{"protein/out", "l"}, {"protein/l", "target"}}, "protein/target"},
      {"leading nowhere", {{"protein/out", "../elsewhere/new"}}, "elsewhere/new"},
      {"leading into no directory", {{"protein/out", "../missing/new"}}, ""},
      {"in a loop", {{"protein/out", "link"}, {"protein/link", "out"}}, ""},
  };
  for (const auto& [name, links, replaced] : kCases) {
    SCOPED_TRACE(name);
    put("protein/target", "earlier\n");
    put("elsewhere/target", "earlier\n");
    for (const auto& [link, target] : links) fs::create_symlink(target, path(link));
    EXPECT_EQ(!replaced.empty(), replace(path("protein/out"), kBytes));
    EXPECT_TRUE(replaced.empty() || read_file(path(replaced)) == kBytes);
    for (const auto& [link, target] : links) {
      EXPECT_EQ(target, fs::read_symlink(path(link)).string());
      fs::remove(path(link));
    }
    fs::remove(path("elsewhere/new"));
    EXPECT_EQ(2, files_in("protein") + files_in("elsewhere"));  // the targets: no temporary
  }
}

TEST_F(HostFileSystemTest, AReplacedFileKeepsItsPermissionsAndGroupANewOneTheUmasks) {
  const mode_t umask_now = umask(0);
  umask(umask_now);
  const std::pair<mode_t, gid_t> kCases[] = {{0600, 0}, {0640, 12345}, {0666, 0}, {0, 0}};
  for (const auto& [mode, group] : kCases) {  // mode 0: no earlier file; the group, as root
    SCOPED_TRACE(mode);
    fs::remove(path("protein/kept"));
    if (mode != 0) put("protein/kept", "earlier\n");
    ASSERT_TRUE(mode == 0 || chmod(path("protein/kept").c_str(), mode) == 0);
    ASSERT_TRUE(mode == 0 || geteuid() != 0 ||
                chown(path("protein/kept").c_str(), -1u, group) == 0);
    ASSERT_TRUE(replace(path("protein/kept"), kBytes));
    struct stat info;
    ASSERT_EQ(0, stat(path("protein/kept").c_str(), &info));
    EXPECT_EQ(mode != 0 ? mode : 0666 & ~umask_now, info.st_mode & 07777);
    EXPECT_TRUE(geteuid() != 0 || group == info.st_gid) << info.st_gid;
  }
  // A directory made for outputs lets its owner in, as root or not.
  ASSERT_TRUE(files_.make_directories(path("made/deeper")));
  struct stat info;
  ASSERT_EQ(0, stat(path("made/deeper").c_str(), &info));
  EXPECT_EQ(0777 & ~umask_now, info.st_mode & 07777);
}

TEST_F(HostFileSystemTest, AFifoOrDeviceIsWrittenInPlace) {
  files_.set_sync(true);  // nothing to flush there: that must not fail them
  ASSERT_EQ(0, mkfifo(path("protein/fifo").c_str(), 0600));
  fs::create_symlink("/dev/null", path("protein/null"));
  const std::pair<std::string, fs::file_type> kCases[] = {
      {path("protein/fifo"), fs::file_type::fifo},
      {path("protein/null"), fs::file_type::character}};  // the link stays
  for (const auto& [target, type] : kCases) {
    SCOPED_TRACE(target);
    std::string heard;
    std::thread reader([&, fifo = type == fs::file_type::fifo] {
      if (fifo) heard = read_file(target);  // the writer's open waits for this reader
    });
    EXPECT_TRUE(replace(target, kBytes));
    reader.join();
    EXPECT_TRUE(type != fs::file_type::fifo || heard == kBytes);
    EXPECT_EQ(type, fs::status(target).type());
  }
  EXPECT_TRUE(fs::is_symlink(path("protein/null")));
  EXPECT_EQ(2, files_in("protein"));
}

// In a directory that everyone may write to but only owners remove from (like /tmp), a link is
// followed only if the user or the directory's owner made it.
TEST_F(HostFileSystemTest, ALinkInASharedStickyDirectoryIsFollowedOnlyIfTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give files to other users";
  const std::pair<mode_t, uid_t> kCases[] = {{01777, 0}, {01777, 123}, {01777, 456}, {0777, 456}};
  for (const auto& [mode, link_owner] : kCases) {  // the directory's owner is 123
    SCOPED_TRACE(::testing::Message()
                 << std::oct << mode << std::dec << ", link of " << link_owner);
    fs::create_directories(path("shared"));
    fs::create_symlink(path("protein/target"), path("shared/out"));  // leading nowhere yet
    ASSERT_TRUE(lchown(path("shared/out").c_str(), link_owner, -1u) == 0 &&
                chown(path("shared").c_str(), 123, -1u) == 0 &&
                chmod(path("shared").c_str(), mode) == 0);
    EXPECT_EQ(mode != 01777 || link_owner != 456, replace(path("shared/out"), kBytes));
    fs::remove_all(path("shared"));
    fs::remove(path("protein/target"));
  }
}

// A species too large for the memory the process may use fails alone; the run goes on.
TEST_F(HostFileSystemTest, NotEnoughMemoryFailsTheSpeciesAloneAndLeavesItsEarlierFiles) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "skipped: sanitizer builds cannot run under a memory limit";
#endif
  fs::create_directories(path("status"));
  std::ofstream big(path("protein/big.fa"), std::ios::binary);
  for (int i = 0; i < 160000; ++i) big << ">P" << i << '\n' << std::string(999, 'M') << i << '\n';
  big.close();
  put("protein/small.fa", ">S1\nMKV\n");
  put("all.txt", "h\nBig\tbig.fa\nSmall\tsmall.fa\n");
  put("status/Big", "earlier\n");
  const pid_t child = fork();
  if (child == 0) {
    // Room for the tool and the small species, far from the 160 MB the large one needs.
    rlim_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20),
                       RLIM_INFINITY};
    testing::FakeClock clock;
    std::ofstream console(path("console"));
    _exit(setrlimit(RLIMIT_AS, &limit) != 0
              ? 100
              : run({"tarnel", "-c", "0", "-i", path("protein/"), "-s", path("status/"), "--report",
                     path("r.tsv"), path("all.txt"), path("all.txt")},
                    console, console, clock, files_));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string console = read_file(path("console"));
  EXPECT_NE(console.find("not enough memory for input file " + path("protein/big.fa\n")),
            std::string::npos);
  EXPECT_NE(console.find("Species_OK:1  Errors:1"), std::string::npos) << console;
  EXPECT_EQ(read_file(path("status/Big")), "earlier\n");
  EXPECT_NE(read_file(path("r.tsv")).find("\tCannot allocate memory\t"), std::string::npos);
}
#endif

}  // namespace
}  // namespace tarnel
