#include "base/interrupt_cleanup.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

TEST(InterruptCleanup, RemovesRememberedTemporariesAndDiesOfTheSignal) {
  // A signal ignored from the start (nohup's SIGHUP, a caller's SIGPIPE) stays ignored.
  const struct {
    int signal_number;
    bool ignored;
  } kCases[] = {{SIGINT, false},  {SIGTERM, false}, {SIGHUP, false},
                {SIGPIPE, false}, {SIGHUP, true},   {SIGPIPE, true}};
  for (const auto [signal_number, ignored] : kCases) {
    SCOPED_TRACE(std::to_string(signal_number) + (ignored ? " ignored" : ""));
    const fs::path dir = fs::temp_directory_path() / ("tarnel-int-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path kept = dir / "kept";
    const fs::path removed = dir / ".tn1-0";
    std::ofstream(kept) << "x";
    std::ofstream(removed) << "x";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (ignored) std::signal(signal_number, SIG_IGN);
      interrupt_cleanup::install();
      const int forgotten = interrupt_cleanup::remember(kept.string());
      interrupt_cleanup::remember(removed.string());
      interrupt_cleanup::forget(forgotten);
      std::raise(signal_number);
      _exit(0);  // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WIFSIGNALED(status), !ignored);
    if (!ignored) {
      EXPECT_EQ(WTERMSIG(status), signal_number);
    }
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(fs::exists(removed), ignored);
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace tarnel
