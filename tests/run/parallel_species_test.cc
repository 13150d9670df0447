// Whole runs with several species in flight: everything they show and write is what one
// species after the other shows and writes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/host.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::run_tool;

// Twelve species of generated proteins with copies among them, and every kind of trouble: a
// missing and a malformed file, a status file that cannot be written, a duplicates file that
// cannot be renamed, S11 (large enough for helper threads of its own) listed twice with a
// small file next, and FASTA outputs written where a later species reads: -o protein -p .fa
// makes S11's output protein/S11.fa, the input of Reader, which comes right after.
MemoryFileSystem collection() {
  MemoryFileSystem files;
  files.directories = {"", "status/", "dup/", "protein/"};
  std::string list = "species_name\tFASTA_file_name\n";
  for (int s = 0; s < 12; ++s) {
    const std::string name = "S" + std::to_string(s);
    list += name + "\ts" + std::to_string(s) + ".fa\n";
    std::string& fasta = files.files["protein/s" + std::to_string(s) + ".fa"];
    for (int p = 0; p < (s == 11 ? 70000 : 20 + 37 * s); ++p) {
      fasta += ">" + name + "_" + std::to_string(p) + " protein\n";
      fasta += std::string(1 + (p * 7 + s) % 13, "MKVLAGHST"[p % 9]) + "\n";
    }
  }
  list += "S11\tsecond.fa\nReader\tS11.fa\nMissing\tmissing.fa\nBad\tbad.fa\n";
  files.files["protein/bad.fa"] = ">A\n\n";
  files.files["protein/second.fa"] = ">X\nMKV\n>Y\nMKV\n";
  files.files["protein/S11.fa"] = ">old\nW\n";
  files.files["all.txt"] = list;
  files.files["act.txt"] = "species_name\tFASTA_file_name\nS2\ts2.fa\n";
  files.write_error.insert("status/S7");
  files.publish_error.insert("dup/S8.tsv");
  return files;
}

struct Outcome {
  int exit_code;
  std::string console;  // after the banner, which names the arguments
  std::map<std::string, std::string> files;
};

Outcome run_with_jobs(MemoryFileSystem files, const std::string& jobs) {
  FakeClock clock;
  std::string out;
  const int code = run_tool({"tarnel", "-w", "1", "-o", "protein", "-p", ".fa", "--report", "r.tsv",
                             "--jobs", jobs, "act.txt", "all.txt"},
                            out, clock, files);
  EXPECT_EQ(0, files.staged_alive);
  return {code, out.substr(out.find("Number of species")), files.files};
}

TEST(ParallelSpeciesTest, ShowsAndWritesWhatOneAfterTheOtherDoes) {
  const Outcome one = run_with_jobs(collection(), "1");
  ASSERT_NE(one.console.find("Species_OK:12  Errors:4"), std::string::npos) << one.console;
  EXPECT_EQ(one.files.at("protein/Reader.fa"), one.files.at("protein/S11.fa"));
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const Outcome four = run_with_jobs(collection(), "4");
    EXPECT_EQ(one.exit_code, four.exit_code);
    EXPECT_EQ(one.console, four.console);
    EXPECT_EQ(one.files, four.files);
  }
}

TEST(ParallelSpeciesTest, ASpeciesShortOfSpaceAmongOthersRunsAgainAlone) {
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(jobs);
    MemoryFileSystem files = collection();
    files.full_once.insert("status/S11");
    const Outcome outcome = run_with_jobs(std::move(files), jobs);
    // The large S11 fails while the species after it go on, and alone it has room.
    const std::string failure =
        std::string("can't write status file status") + host::kDirectorySeparator + "S11";
    EXPECT_EQ(outcome.console.find(failure) == std::string::npos, jobs == std::string("4"));
  }
}

}  // namespace
}  // namespace tarnel
