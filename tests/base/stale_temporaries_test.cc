// Leftovers of killed runs, in a scratch directory of the host's real file system, removed by
// the first file staged there.
#include "base/stale_temporaries.h"

#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/host_file_system.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tarnel {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
unsigned own_process() { return static_cast<unsigned>(_getpid()); }
// Process numbers are multiples of four, far below this one.
unsigned gone_process() { return 0xfffffffcu; }
void set_age(const fs::path& path, int minutes) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(minutes));
}
#else
unsigned own_process() { return static_cast<unsigned>(getpid()); }
unsigned gone_process() {  // a child that has ended and been reaped
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status;
  EXPECT_EQ(child, waitpid(child, &status, 0));
  return static_cast<unsigned>(child);
}
void set_age(const fs::path& path, int minutes) {  // of a link itself, not of its target
  const timespec then{std::time(nullptr) - minutes * 60, 0};
  const timespec times[2] = {then, then};
  EXPECT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW));
}
#endif

std::string base36(unsigned value) {
  char digits[16];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, value, 36).ptr);
}

TEST(StaleTemporaries, OnlyOldTemporariesOfEndedProcessesAreRemoved) {
  const fs::path dir =
      fs::temp_directory_path() / ("tarnel-stale-" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const std::string gone = ".tn" + base36(gone_process());
  struct Row {
    std::string name;
    int minutes;
    bool removed;
    bool link = false;  // to a regular file as old as it is
  };
  std::vector<Row> rows = {
      {gone + "-1", 11, true},
      {gone + "-2", 9, false},
      {".tn" + base36(own_process()) + "-1", 11, false},
      {gone + "-Z", 11, false},
      {gone + "-", 11, false},
      {gone + "-3x.tmp", 11, false},
      {gone.substr(1) + "-4", 11, false},
      {".tn1z141z3-1", 11, true},  // the largest, a number no process here has
  };
#ifndef _WIN32
  rows.push_back({".tn" + base36(static_cast<unsigned>(getppid())) + "-1", 11, false});
  rows.push_back({".tn1-2", 11, false});  // init: running, another user's unless we are root
  rows.push_back({gone + "-5", 11, false, true});
#endif
  for (const Row& row : rows) {
    const fs::path path = dir / row.name;
    if (row.link) {
      std::ofstream(dir / "target") << "x";
      set_age(dir / "target", row.minutes);
      fs::create_symlink(dir / "target", path);
    } else {
      std::ofstream(path) << "x";
    }
    set_age(path, row.minutes);
  }

  HostFileSystem files;
  EXPECT_NE(nullptr, files.stage((dir / "status").string()));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.removed, !fs::exists(fs::symlink_status(dir / row.name)));
  }

  // Once per directory and run.
  std::ofstream(dir / rows[0].name) << "x";
  set_age(dir / rows[0].name, 11);
  EXPECT_NE(nullptr, files.stage((dir / "dup").string()));
  EXPECT_TRUE(fs::exists(dir / rows[0].name));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarnel
