// A species too large for the memory the process may use fails alone; the run goes on.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/host_file_system.h"
#include "test_support.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The address space the process holds now, in bytes.
rlim_t address_space_now() {
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

TEST(OutOfMemory, FailsTheSpeciesAloneAndLeavesItsEarlierFiles) {
  if (kSanitized) GTEST_SKIP() << "skipped: sanitizer builds cannot run under a memory limit";
  const fs::path root = fs::temp_directory_path() / ("tarnel-oom-" + std::to_string(getpid()));
  fs::remove_all(root);
  for (const char* dir : {"protein", "status", "dup"}) fs::create_directories(root / dir);
  {
    std::ofstream big(root / "protein/big.fa", std::ios::binary);
    const std::string sequence(999, 'M');
    for (int i = 0; i < 160000; ++i) big << ">P" << i << '\n' << sequence << i << '\n';
  }
  std::ofstream(root / "protein/small.fa", std::ios::binary) << ">S1\nMKV\n";
  std::ofstream(root / "all.txt", std::ios::binary) << "h\nBig\tbig.fa\nSmall\tsmall.fa\n";
  std::ofstream(root / "status/Big", std::ios::binary) << "earlier\n";
  const std::string at = root.string() + "/";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Room for the tool and the small species, far from the 160 MB the large one needs.
    const rlimit limit{address_space_now() + (64u << 20), RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(100);
    HostFileSystem files;
    testing::FakeClock clock;
    std::string out;
    const int code =
        testing::run_tool({"tarnel", "-i", at + "protein", "-s", at + "status", "-d", at + "dup",
                           "--report", at + "r.tsv", at + "all.txt", at + "all.txt"},
                          out, clock, files);
    std::ofstream(at + "console", std::ios::binary) << out;
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string console = read(root / "console");
  EXPECT_NE(console.find("not enough memory for input file " + at + "protein/big.fa\n"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("Species_OK:1  Errors:1"), std::string::npos) << console;
  EXPECT_EQ(read(root / "status/Big"), "earlier\n");
  // The report tells why, and how far the reading got.
  const std::string report = read(root / "r.tsv");
  const std::size_t row = report.find("\nBig\t");
  ASSERT_NE(row, std::string::npos) << report;
  const std::string big = report.substr(row + 1, report.find('\n', row + 1) - row - 1);
  EXPECT_NE(big.find("\tCannot allocate memory\t"), std::string::npos) << big;
  EXPECT_NE(big.substr(big.rfind('\t') + 1), "0") << big;
  EXPECT_EQ(read(root / "status/Small"), "      1      0     3 ..\n");
  for (const char* dir : {"status", "dup"}) {
    for (const auto& entry : fs::directory_iterator(root / dir)) {
      EXPECT_NE(entry.path().filename().string().rfind(".tn", 0), 0u) << entry.path();
    }
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace tarnel
