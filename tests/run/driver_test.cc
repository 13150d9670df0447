#include "run/driver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run/console.h"
#include "run/host.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::run_tool;

// The text itself is pinned by the command-line tests; here it only matters when it appears.
std::string usage_text() {
  std::ostringstream out;
  Console console(out);
  print_usage(console, "tarnel");
  return out.str();
}

const std::string kBanner = "\ntarnel v1.10: act.txt all.txt\n\n";

// Three species of which the second is active; the third has no FASTA file.
MemoryFileSystem three_species() {
  MemoryFileSystem files;
  files.directories.insert("status/");
  files.directories.insert("dup/");
  files.files["all.txt"] =
      "species_name\tFASTA_file_name\n"
      "Escherichia_coli\tecoli.fa\n"
      "Homo_sapiens\thuman.fa\n"
      "Mus_musculus\tmouse.fa\n";
  files.files["act.txt"] = "species_name\tFASTA_file_name\nHomo_sapiens\thuman.fa\n";
  files.files["protein/ecoli.fa"] = ">e1\nMKV\n>e2\nMKV\n>e3\nAA\n";
  files.files["protein/human.fa"] = ">h1 desc\nMA\n";
  return files;
}

MemoryFileSystem header_only_lists() {
  MemoryFileSystem files;
  files.files["all.txt"] = "species_name\tFASTA_file_name\n";
  files.files["act.txt"] = "species_name\tFASTA_file_name\n";
  return files;
}

TEST(RunTest, WholeRunOverThreeSpecies) {
  MemoryFileSystem files = three_species();
  // Run start; each processed species' start and end (the missing one reads no end); run end.
  FakeClock clock({5000, 6000, 6999, 7000, 9500, 10000, 64999});
  std::string out;
  EXPECT_EQ(0, run_tool({"tarnel", "act.txt", "all.txt"}, out, clock, files));
  EXPECT_EQ(kBanner +
                "Number of species to activate: 1 of 3\n"
                "Escherichia_coli...                  p=3      dup=1     max=1  grp=1      0s\n"
                "Homo_sapiens...                      p=1      dup=0     max=0  grp=0      2s\n"
                "Mus_musculus...                     can't open input file protein/mouse.fa\n"
                "\n"
                "Lines:3  Species_OK:2  Errors:1  Time:0m\n",
            out);
  // One mask for every species: an inactive species shows the active ones, an active one all.
  EXPECT_EQ("      1      0     3  . \n      5      2     2  . \n",
            files.files["status/Escherichia_coli"]);
  EXPECT_EQ("      1      0     2 ...\n", files.files["status/Homo_sapiens"]);
  EXPECT_EQ("e1\t1\te2\n", files.files["dup/Escherichia_coli.tsv"]);
  EXPECT_EQ(0u, files.files.count("status/Mus_musculus"));
}

TEST(RunTest, EndsEarlyWithItsExitCode) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    void (*change)(MemoryFileSystem&);
    int exit_code;
    std::string console;
  };
  const auto nothing = [](MemoryFileSystem&) {};
  const std::string usage = usage_text();
  const Case kCases[] = {
      {"no argument: the usage alone", {"tarnel"}, nothing, 0, usage},
      {"help first: the usage alone", {"tarnel", "-?", "act.txt", "all.txt"}, nothing, 0, usage},
      {"a first path with h as second character asks for help",
       {"tarnel", "/home/lists.txt", "all.txt"},
       nothing,
       0,
       usage},
      {"a program path with directories and an extension",
       {"C:\\tools\\tarnel.exe", "?"},
       nothing,
       0,
       usage},
      {"help option later: the banner, then the usage",
       {"tarnel", "act.txt", "all.txt", "-h", "-x"},
       nothing,
       0,
       "\ntarnel v1.10: act.txt all.txt -h -x\n\n" + usage},
      {"missing value",
       {"tarnel", "act.txt", "all.txt", "-i"},
       nothing,
       1,
       "\ntarnel v1.10: act.txt all.txt -i\n\nMissing input path\n"},
      {"unknown option",
       {"tarnel", "-x", "act.txt", "all.txt"},
       nothing,
       1,
       "\ntarnel v1.10: -x act.txt all.txt\n\nUnknown option x\n"},
      {"one list",
       {"tarnel", "act.txt"},
       nothing,
       1,
       "\ntarnel v1.10: act.txt\n\nTwo lists of species must be specified\n"},
      {"master list read first",
       {"tarnel", "act.txt", "all.txt"},
       [](MemoryFileSystem& files) { files.files.clear(); },
       2,
       kBanner + "Bad or missing list of all species all.txt\n"},
      {"active list missing",
       {"tarnel", "act.txt", "all.txt"},
       [](MemoryFileSystem& files) { files.files.erase("act.txt"); },
       2,
       kBanner + "Bad or missing list of active species, act.txt\n"},
      {"over-long master line",
       {"tarnel", "act.txt", "all.txt"},
       [](MemoryFileSystem& files) { files.files["all.txt"] += std::string(65536, 'A') + "\n"; },
       2,
       kBanner + "Failed at line 5\n"},
      {"master line without file name",
       {"tarnel", "act.txt", "all.txt"},
       [](MemoryFileSystem& files) { files.files["all.txt"] += "\nRattus\t\n"; },
       3,
       kBanner + "no file name in line 6\n"},
      {"active line without second field",
       {"tarnel", "act.txt", "all.txt"},
       [](MemoryFileSystem& files) { files.files["act.txt"] += "Mus_musculus mouse.fa\n"; },
       3,
       kBanner + "no 2nd field in line 3\n"},
      {"active species unknown: nothing processed",
       {"tarnel", "act.txt", "all.txt"},
       [](MemoryFileSystem& files) {
         files.files["act.txt"] += "Mus_musculus\tmus.fa\nRattus\trat.fa\n";
       },
       4,
       kBanner + "Species Mus_musculus disagrees with master list\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files = three_species();
    c.change(files);
    const std::map<std::string, std::string> before = files.files;
    FakeClock clock;
    std::string out;
    EXPECT_EQ(c.exit_code, run_tool(c.arguments, out, clock, files));
    EXPECT_EQ(c.console, out);
    EXPECT_EQ(before, files.files);  // no species was processed
  }
}

TEST(RunTest, SummaryCountsEverySpeciesAndLinesOfTheActiveList) {
  struct Case {
    const char* name;
    std::string all;
    std::string act;
    std::string console;  // after the banner
  };
  const std::string kNoFile = "can't open input file protein/";
  const Case kCases[] = {
      {"header-only lists", "h\n", "h\n",
       "Number of species to activate: 0 of 0\n\nLines:2  Species_OK:0  Errors:0  Time:0m\n"},
      {"every species fails; none active, all processed", "h\nA\ta.fa\nB\tb.fa\n", "",
       "Number of species to activate: 0 of 2\n"
       "A...                                " +
           kNoFile +
           "a.fa\n"
           "B...                                " +
           kNoFile +
           "b.fa\n"
           "\nLines:1  Species_OK:0  Errors:2  Time:0m\n"},
      {"header and two entries ending with a line feed", "h\nA\ta.fa\nB\tb.fa\n",
       "h\nA\ta.fa\nB\tb.fa\n",
       "Number of species to activate: 2 of 2\n"
       "A...                                " +
           kNoFile +
           "a.fa\n"
           "B...                                " +
           kNoFile +
           "b.fa\n"
           "\nLines:4  Species_OK:0  Errors:2  Time:0m\n"},
      {"the same without the final line feed", "h\nA\ta.fa\nB\tb.fa\n", "h\nA\ta.fa\nB\tb.fa",
       "Number of species to activate: 2 of 2\n"
       "A...                                " +
           kNoFile +
           "a.fa\n"
           "B...                                " +
           kNoFile +
           "b.fa\n"
           "\nLines:3  Species_OK:0  Errors:2  Time:0m\n"},
      {"repeated master entry processed twice", "h\nA\ta.fa\nA\ta.fa\n", "h\nA\ta.fa\n",
       "Number of species to activate: 1 of 2\n"
       "A...                                " +
           kNoFile +
           "a.fa\n"
           "A...                                " +
           kNoFile +
           "a.fa\n"
           "\nLines:3  Species_OK:0  Errors:2  Time:0m\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["all.txt"] = c.all;
    files.files["act.txt"] = c.act;
    FakeClock clock;
    std::string out;
    EXPECT_EQ(0, run_tool({"tarnel", "act.txt", "all.txt"}, out, clock, files));
    EXPECT_EQ(kBanner + c.console, out);
  }
}

TEST(RunTest, SpeciesSeeTheNormalisedSettings) {
  MemoryFileSystem files;
  files.files["all.txt"] = "h\nA\ta.fa\n";
  files.files["act.txt"] = "h\n";
  FakeClock clock;
  std::string out;
  EXPECT_EQ(0,
            run_tool({"tarnel", "-i", "data", "act.txt", "all.txt", "extra"}, out, clock, files));
  const char separator = host::kWindows ? '\\' : '/';
  EXPECT_EQ(std::string("\ntarnel v1.10: -i data act.txt all.txt extra\n\n"
                        "Extra argument extra ignored\n"
                        "Number of species to activate: 0 of 1\n"
                        "A...                                can't open input file data") +
                separator +
                "a.fa\n"
                "\nLines:2  Species_OK:0  Errors:1  Time:0m\n",
            out);
}

TEST(RunTest, RunTimeIsInWholeMinutes) {
  struct Case {
    std::int64_t start;
    std::int64_t end;
    const char* time;
  };
  constexpr std::int64_t kInt32Max = 2147483647;
  const Case kCases[] = {
      {0, 0, "Time:0m"},
      {0, 59999, "Time:0m"},
      {0, 60000, "Time:1m"},
      {0, 119999, "Time:1m"},
      {1000, 60999, "Time:0m"},
      {1000, 61000, "Time:1m"},
      // A clock beyond 32 bits, and a run longer than 32 bits of milliseconds.
      {kInt32Max - 10, kInt32Max - 10 + 120000, "Time:2m"},
      {0, 25LL * 24 * 60 * 60 * 1000, "Time:36000m"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.start) + " to " + std::to_string(c.end));
    MemoryFileSystem files = header_only_lists();
    FakeClock clock({c.start, c.end});
    std::string out;
    EXPECT_EQ(0, run_tool({"tarnel", "act.txt", "all.txt"}, out, clock, files));
    EXPECT_EQ(kBanner +
                  "Number of species to activate: 0 of 0\n\nLines:2  Species_OK:0  Errors:0  " +
                  c.time + "\n",
              out);
  }
}

TEST(RunTest, EachSpeciesIsTimedFromItsOwnStart) {
  struct Case {
    std::vector<std::int64_t> readings;  // run start, species start, species end, run end
    const char* seconds;
    const char* time;
  };
  const Case kCases[] = {
      {{0, 1, 1000, 1000}, "  0s", "Time:0m"},
      {{0, 1000, 1999, 59999}, "  0s", "Time:0m"},
      {{0, 1000, 2000, 60000}, "  1s", "Time:1m"},
      {{0, 30000, 1029999, 1030000}, "999s", "Time:17m"},
      {{0, 30000, 1030000, 1030000}, "1000s", "Time:17m"},
      {{3000000000, 3000000500, 3000999999, 3001000000}, "999s", "Time:16m"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.seconds);
    MemoryFileSystem files;
    files.files["all.txt"] = "h\nA\ta.fa\n";
    files.files["act.txt"] = "h\nA\ta.fa\n";
    files.files["protein/a.fa"] = ">a\nMKV\n";
    files.directories.insert("status/");
    files.directories.insert("dup/");
    FakeClock clock(c.readings);
    std::string out;
    EXPECT_EQ(0, run_tool({"tarnel", "act.txt", "all.txt"}, out, clock, files));
    EXPECT_EQ(kBanner + "Number of species to activate: 1 of 1\n" +
                  "A...                                 p=1      dup=0     max=0  grp=0    " +
                  c.seconds + "\n\nLines:3  Species_OK:1  Errors:0  " + c.time + "\n",
              out);
  }
}

}  // namespace
}  // namespace tarnel
