#include "run/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/host.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::banner;
using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::run_tool;
using testing::three_species;

const std::vector<std::string> kLists = {"tarnel", "act.txt", "all.txt"};

// The beginning of a species' line: its name and "...", in 36 columns.
std::string heading(const std::string& name) {
  return (name + "...").append(33 - name.size(), ' ');
}

std::string summary(int lines, int ok, int errors, int minutes) {
  return "\nLines:" + std::to_string(lines) + "  Species_OK:" + std::to_string(ok) +
         "  Errors:" + std::to_string(errors) + "  Time:" + std::to_string(minutes) + "m\n";
}

TEST(RunTest, WholeRunOverThreeSpecies) {
  MemoryFileSystem files = three_species();
  // Run start; each species' start and end (999 ms, then 2,500 ms; the missing file reads no
  // end); the run's end, 59,999 ms after its start.
  FakeClock clock({5000, 6000, 6999, 7000, 9500, 10000, 64999});
  std::string out;
  EXPECT_EQ(0, run_tool(kLists, out, clock, files));
  EXPECT_EQ(banner(kLists) + "Number of species to activate: 1 of 3\n" +
                heading("Escherichia_coli") + " p=3      dup=1     max=1  grp=1      0s\n" +
                heading("Homo_sapiens") + " p=1      dup=0     max=0  grp=0      2s\n" +
                heading("Mus") + "can't open input file protein" + host::kDirectorySeparator +
                "mouse.fa\n" + summary(3, 2, 1, 0),
            out);
  // Every species sees the same mask.
  EXPECT_EQ("      1      0     3  . \n      5      2     2  . \n",
            files.files["status/Escherichia_coli"]);
  EXPECT_EQ("      1      0     2 ...\n", files.files["status/Homo_sapiens"]);
}

TEST(RunTest, EndsEarlyWithTheExitCodeOfTheFirstFailure) {
  struct Case {
    const char* name;
    std::vector<std::string> options;  // after the lists
    std::string master_tail;           // appended to the master list
    std::string active_tail;           // appended to the active list
    int exit_code;
    std::string after_banner;
  };
  std::ostringstream usage;
  Console console(usage);
  print_usage(console, "tarnel");
  const std::string too_long(65536, 'R');
  const Case kCases[] = {
      {"h option after the lists", {"-h", "-x"}, "", "", 0, usage.str()},
      {"option without its value", {"-i"}, "", "", 1, "Missing input path\n"},
      {"over-long lines, master first", {}, too_long, too_long, 2, "Failed at line 5\n"},
      {"master line without file name", {}, "Rattus\t\n", "", 3, "no file name in line 5\n"},
      {"unknown active", {}, "", "Mus\tm\nRat\tr\n", 4, "Species Mus disagrees with master list\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files = three_species();
    files.files["all.txt"] += c.master_tail;
    files.files["act.txt"] += c.active_tail;
    const auto before = files.files;
    std::vector<std::string> arguments = kLists;
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    FakeClock clock;
    std::string out;
    EXPECT_EQ(c.exit_code, run_tool(arguments, out, clock, files));
    EXPECT_EQ(banner(arguments) + c.after_banner, out);
    EXPECT_EQ(before, files.files);  // no species was processed
  }
}

TEST(RunTest, SummaryCountsTheActiveListsReadsEveryFailureAndWholeMinutes) {
  struct Case {
    const char* name;
    std::string lists;  // serves as both
    std::vector<std::int64_t> clock;
    std::string summary;
  };
  const Case kCases[] = {
      {"every species fails; a final LF", "h\nA\ta\nB\tb\n", {0}, summary(4, 0, 2, 0)},
      {"no final LF", "h\nA\ta\nB\tb", {0}, summary(3, 0, 2, 0)},
      {"59,999 ms", "h\n", {1000, 60999}, summary(2, 0, 0, 0)},
      {"60,000 ms", "h\n", {1000, 61000}, summary(2, 0, 0, 1)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["act.txt"] = files.files["all.txt"] = c.lists;
    FakeClock clock(c.clock);
    std::string out;
    EXPECT_EQ(0, run_tool(kLists, out, clock, files));
    EXPECT_EQ(c.summary, out.substr(std::min(out.size(), out.rfind("\nLines:"))));
  }
}

}  // namespace
}  // namespace tarnel
