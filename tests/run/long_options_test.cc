// Whole runs with the long options: what each adds, and that every command line without them
// keeps its meaning.
#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "run/command_line.h"
#include "base/console.h"
#include "run/driver.h"
#include "base/host.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::banner;
using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::run_tool;
using testing::three_species;

std::string help_text(bool with_long_options) {
  std::ostringstream out;
  Console console(out);
  if (with_long_options) {
    print_long_help(console, "tarnel");
  } else {
    print_usage(console, "tarnel");
  }
  return out.str();
}

std::string summary_of(const std::string& out) {
  const std::size_t at = out.rfind("\nLines:");
  return at == std::string::npos ? "" : out.substr(at + 1);
}

TEST(LongOptionsTest, ParseLikeTheLettersAndFailAsTheyDo) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;  // after the program path
    int exit_code;
    std::string console;  // "<banner>" stands for the banner of these arguments
  };
  const std::string usage = help_text(false);
  const std::string long_help = help_text(true);
  const Case kCases[] = {
      {"--version first: no banner", {"--version", "-x"}, 0, "tarnel 1.10\n"},
      {"--help first: no banner", {"--help", "-x"}, 0, long_help},
      {"--version later acts where it stands",
       {"a", "--version", "-x"},
       0,
       "<banner>tarnel 1.10\n"},
      {"--help later", {"a", "--help", "-x"}, 0, "<banner>" + long_help},
      {"-h keeps the usage alone", {"-h"}, 0, usage},
      {"unknown", {"act.txt", "all.txt", "--bogus"}, 1, "<banner>Unknown option -\n"},
      {"a bare --", {"--", "act.txt", "all.txt"}, 1, "<banner>Unknown option -\n"},
      {"never abbreviated", {"act.txt", "all.txt", "--stric"}, 1, "<banner>Unknown option -\n"},
      {"case-sensitive", {"act.txt", "all.txt", "--Strict"}, 1, "<banner>Unknown option -\n"},
      {"no value may follow a switch",
       {"act.txt", "all.txt", "--strict="},
       1,
       "<banner>Unknown option -\n"},
      {"--help= is no help", {"--help=1", "act.txt", "all.txt"}, 1, "<banner>Unknown option -\n"},
      {"report without its value",
       {"act.txt", "all.txt", "--report"},
       1,
       "<banner>Missing report file path\n"},
      {"only without its value",
       {"act.txt", "all.txt", "--only"},
       1,
       "<banner>Missing species name\n"},
      {"jobs without its value",
       {"act.txt", "all.txt", "--jobs"},
       1,
       "<banner>Missing number of jobs\n"},
      {"no jobs", {"--jobs=0", "act.txt", "all.txt"}, 1, "<banner>Bad number of jobs 0\n"},
      {"a sign", {"--jobs", "+2", "act.txt", "all.txt"}, 1, "<banner>Bad number of jobs +2\n"},
      {"trailing letters",
       {"--jobs", "2x", "act.txt", "all.txt"},
       1,
       "<banner>Bad number of jobs 2x\n"},
      {"a letter's value stays a value",
       {"-i", "--help", "-s", "--only", "x"},
       1,
       "<banner>Two lists of species must be specified\n"},
      {"--only unknown",
       {"act.txt", "all.txt", "--only", "Homo_sapiens", "--only=Rattus"},
       4,
       "<banner>Number of species to activate: 1 of 3\n"
       "Species Rattus is not in the list of all species\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files = three_species();
    const auto before = files.files;
    std::vector<std::string> arguments{"tarnel"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    std::string expected = c.console;
    if (expected.rfind("<banner>", 0) == 0) expected.replace(0, 8, banner(arguments));
    FakeClock clock;
    std::string out;
    EXPECT_EQ(c.exit_code, run_tool(arguments, out, clock, files));
    EXPECT_EQ(expected, out);
    EXPECT_EQ(before, files.files);  // nothing was processed
  }
}

TEST(LongOptionsTest, StrictOnlyReportAndMkdirShapeTheRun) {
  struct Case {
    const char* name;
    std::vector<std::string> options;  // before the lists
    int exit_code;
    std::string summary;
    std::string after_summary;
  };
  const Case kCases[] = {
      {"default: failures counted, exit 0",
       {},
       0,
       "Lines:3  Species_OK:2  Errors:1  Time:0m\n",
       ""},
      {"--strict with a failure",
       {"--strict"},
       5,
       "Lines:3  Species_OK:2  Errors:1  Time:0m\n",
       ""},
      {"--strict, every processed species ok",
       {"--strict", "--only", "Homo_sapiens"},
       0,
       "Lines:3  Species_OK:1  Errors:0  Time:0m\n",
       ""},
      {"a name given twice counts once",
       {"--only=Mus", "--only", "Mus"},
       0,
       "Lines:3  Species_OK:0  Errors:1  Time:0m\n",
       ""},
      {"report in a missing directory",
       {"--report", "no/r.tsv"},
       6,
       "Lines:3  Species_OK:2  Errors:1  Time:0m\n",
       "can't write report file no/r.tsv\n"},
      {"the largest code wins",
       {"--strict", "--report", "no/r.tsv"},
       6,
       "Lines:3  Species_OK:2  Errors:1  Time:0m\n",
       "can't write report file no/r.tsv\n"},
      {"--mkdir makes the report's directory too",
       {"--mkdir", "--strict", "--report", "no/r.tsv"},
       5,
       "Lines:3  Species_OK:2  Errors:1  Time:0m\n",
       ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files = three_species();
    std::vector<std::string> arguments{"tarnel"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.insert(arguments.end(), {"act.txt", "all.txt"});
    FakeClock clock;
    std::string out;
    EXPECT_EQ(c.exit_code, run_tool(arguments, out, clock, files));
    EXPECT_EQ(c.summary + c.after_summary, summary_of(out));
  }
}

TEST(LongOptionsTest, OnlyWritesWhatTheFullRunWritesForItsSpecies) {
  MemoryFileSystem full = three_species();
  full.files["all.txt"] += "Homo_sapiens\thuman.fa\n";  // listed twice: both entries run
  MemoryFileSystem only = full;
  FakeClock clock;
  std::string out;
  ASSERT_EQ(0, run_tool({"tarnel", "-w", "1", "act.txt", "all.txt"}, out, clock, full));
  full.directories.insert("fasta/");
  only.directories.insert("fasta/");
  ASSERT_EQ(0, run_tool({"tarnel", "-w", "1", "act.txt", "all.txt"}, out, clock, full));
  ASSERT_EQ(0, run_tool({"tarnel", "--only", "Homo_sapiens", "-w", "1", "act.txt", "all.txt"}, out,
                        clock, only));
  EXPECT_EQ(out.find("Escherichia_coli"), std::string::npos);
  EXPECT_EQ("Lines:3  Species_OK:2  Errors:0  Time:0m\n", summary_of(out));
  for (const char* path :
       {"status/Homo_sapiens", "dup/Homo_sapiens.tsv", "fasta/Homo_sapiens.fas"}) {
    EXPECT_EQ(full.files[path], only.files[path]) << path;
  }
  EXPECT_EQ(only.files.count("status/Escherichia_coli"), 0u);
}

TEST(LongOptionsTest, ReportHasARowPerSpeciesWithEscapedFields) {
  MemoryFileSystem files = three_species();
  files.files["act.txt"] = "h\n";
  files.files["all.txt"] =
      "h\nEscherichia_coli\tecoli.fa\nHomo_sapiens\thuman.fa\nMus\tmou\\se.fa\n";
  files.files["a\tb/ecoli.fa"] = files.files["protein/ecoli.fa"];
  files.files["a\tb/human.fa"] = ">h1 desc\nMA\n\n>h2\nM\n";  // an empty line: fails
  files.directories.insert("fasta/");
  // Run start; then a start and an end for each species but those that fail, which the report
  // reads once more; the run's end.
  FakeClock clock({0, 100, 1234, 2000, 2001, 3000, 3500, 4000, 4100, 5000, 5002, 9000});
  std::string out;
  ASSERT_EQ(0, run_tool({"tarnel", "-i", "a\tb/", "-w", "1", "-s", "none/", "--report=r.tsv",
                         "--only", "Mus", "--only", "Escherichia_coli", "--only", "Homo_sapiens",
                         "act.txt", "all.txt"},
                        out, clock, files));
  EXPECT_EQ(
      "species\tfasta_file\tstatus\tmessage\treason\tproteins\tcopies\tlargest_group\tgroups\t"
      "written\tseconds\tbytes_read\n"
      "Escherichia_coli\ta\\tb/ecoli.fa\terror\tcan't create status file none/Escherichia_coli"
      "\tNo such file or directory\t3\t1\t1\t1\t\t1.134\t23\n"
      "Homo_sapiens\ta\\tb/human.fa\terror\tempty line 3\t\t\t\t\t\t\t0.001\t19\n"
      "Mus\ta\\tb/mou\\\\se.fa\terror\tcan't open input file a\\tb/mou\\\\se.fa\t"
      "No such file or directory\t\t\t\t\t\t0.500\t0\n",
      files.files["r.tsv"]);
}

TEST(LongOptionsTest, ReportOfSuccessfulSpeciesCountsWhatWasWritten) {
  MemoryFileSystem files = three_species();
  files.directories.insert("fasta/");
  FakeClock clock({0, 10, 20, 30, 40, 50, 60});
  std::string out;
  ASSERT_EQ(0, run_tool({"tarnel", "-w", "1", "--report", "r.tsv", "--only", "Escherichia_coli",
                         "act.txt", "all.txt"},
                        out, clock, files));
  // The input directory as normalised, its separator escaped where it is a backslash.
  const std::string protein = host::kWindows ? "protein\\\\" : "protein/";
  EXPECT_EQ("Escherichia_coli\t" + protein + "ecoli.fa\tok\t\t\t3\t1\t1\t1\t2\t0.010\t23\n",
            files.files["r.tsv"].substr(files.files["r.tsv"].find('\n') + 1));
  ASSERT_EQ(0, run_tool({"tarnel", "-c", "0", "--report", "r.tsv", "--only", "Homo_sapiens",
                         "act.txt", "all.txt"},
                        out, clock, files));
  EXPECT_EQ("Homo_sapiens\t" + protein + "human.fa\tok\t\t\t\t\t\t\t\t0.010\t12\n",
            files.files["r.tsv"].substr(files.files["r.tsv"].find('\n') + 1));
}

// A stream whose every write fails, like a console redirected to a full disk.
class FullDisk final : public std::streambuf {
 protected:
  int_type overflow(int_type) override {
    errno = ENOSPC;
    return traits_type::eof();
  }
  std::streamsize xsputn(const char*, std::streamsize) override {
    errno = ENOSPC;
    return 0;
  }
};

TEST(LongOptionsTest, AConsoleThatCannotBeWrittenIsAFailureButTheRunGoesOn) {
  for (const bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "--strict" : "plain");
    MemoryFileSystem files = three_species();
    FullDisk full;
    std::ostream out(&full);
    std::ostringstream err;
    FakeClock clock;
    std::vector<std::string> arguments{"tarnel", "act.txt", "all.txt"};
    if (strict) arguments.push_back("--strict");
    EXPECT_EQ(7, run(arguments, out, err, clock, files));
    EXPECT_EQ("tarnel: can't write standard output: No space left on device\n", err.str());
    EXPECT_EQ(1u, files.files.count("status/Homo_sapiens"));
    EXPECT_EQ(1u, files.files.count("dup/Escherichia_coli.tsv"));
  }
}

}  // namespace
}  // namespace tarnel
