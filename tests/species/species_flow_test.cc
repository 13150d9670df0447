#include "species/species_flow.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "run/host_file_system.h"
#include "test_support.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

const std::string kTenProteins =
    ">P0 zero\nMKVLA\n>P1\nMKVLA\n>P2\nGG\n>P3\nMKVLA\n>P4\nWWWWWWW\n"
    ">P5\nGG\n>P6\nA\n>P7\nCC\n>P8\nDD\n>P9\nEE\n";

// Runs the tool over one species named `name` whose FASTA text is `fasta`.
struct OneSpeciesRun {
  testing::MemoryFileSystem files;
  std::string out;
  int exit_code = -1;

  OneSpeciesRun() {
    for (const char* dir : {"protein/", "status/", "dup/", "fasta/"}) files.directories.insert(dir);
  }
  void add_species(const std::string& name, const std::string& file, const std::string& fasta) {
    files.files["all.txt"] += name + "\t" + file + "\n";
    files.files["protein/" + file] = fasta;
  }
  void run(std::vector<std::string> options, std::vector<std::int64_t> clock = {0}) {
    files.files["all.txt"].insert(0, "species_name\tFASTA_file_name\n");
    files.files["act.txt"] = "header\n";
    std::vector<std::string> arguments = {"tarnel"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back("act.txt");
    arguments.push_back("all.txt");
    testing::FakeClock fake(std::move(clock));
    exit_code = testing::run_tool(arguments, out, fake, files);
  }
  // The console line of the first species.
  std::string species_line() const {
    const std::size_t begin = out.find("Number of species to activate");
    const std::size_t line = out.find('\n', begin) + 1;
    return out.substr(line, out.find('\n', line) - line + 1);
  }
};

TEST(ProcessSpecies, CreatesTheFilesTheModesAskFor) {
  for (int mask = 0; mask < 8; ++mask) {
    const bool copy = mask & 1, status = mask & 2, write = mask & 4;
    SCOPED_TRACE("c=" + std::to_string(copy) + " u=" + std::to_string(status) +
                 " w=" + std::to_string(write));
    OneSpeciesRun run;
    run.add_species("Sp", "sp.fa", kTenProteins);
    run.run({"-c", copy ? "1" : "0", "-u", status ? "1" : "0", "-w", write ? "1" : "0"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.files.files.count("dup/Sp.tsv"), copy ? 1u : 0u);
    EXPECT_EQ(run.files.files.count("status/Sp"), status ? 1u : 0u);
    EXPECT_EQ(run.files.files.count("fasta/Sp.fas"), write ? 1u : 0u);
    std::string expected = "Sp...                               ";
    if (copy) expected += " p=10     dup=3     max=2  grp=2    ";
    if (write)
      expected +=
          copy ? "     7 of     10 proteins written in " : "    10 of     10 proteins written in ";
    expected += "  0s\n";
    EXPECT_EQ(run.species_line(), expected);
    EXPECT_EQ(run.files.staged_alive, 0);
  }
}

TEST(ProcessSpecies, WritesTheThreeFilesInTheChosenOrder) {
  OneSpeciesRun run;
  run.add_species("Sp", "sp.fa", kTenProteins);
  run.run({"-w", "1"});
  EXPECT_EQ(run.files.files["fasta/Sp.fas"],
            ">P4\nWWWWWWW\n>P0\nMKVLA\n>P7\nCC\n>P8\nDD\n>P9\nEE\n>P2\nGG\n>P6\nA\n");
  EXPECT_EQ(run.files.files["dup/Sp.tsv"], "P0\t2\tP1\tP3\nP2\t1\tP5\n");
  EXPECT_EQ(run.files.files["status/Sp"],
            "      9      4     7  \n      1      0     5  \n     15      7     2  \n"
            "     17      8     2  \n     19      9     2  \n      5      2     2  \n"
            "     13      6     1  \n");
}

TEST(ProcessSpecies, ConsoleLineFields) {
  struct Case {
    const char* name;
    std::string species;
    std::string fasta;
    std::vector<std::string> options;
    std::vector<std::int64_t> clock;  // run start, species start, species end, run end
    std::string line;
  } const kCases[] = {
      {"empty FASTA with output",
       "Sp",
       "",
       {"-w", "1"},
       {0},
       "Sp...                                p=0      dup=0     max=0  grp=0         0 of      0 "
       "proteins written in   0s\n"},
      {"33-character name fills the heading",
       std::string(33, 'N'),
       ">A\nM\n",
       {"-c", "0"},
       {0},
       std::string(33, 'N') + "...  0s\n"},
      {"a longer name pushes the line right",
       std::string(40, 'N'),
       ">A\nM\n",
       {"-c", "0"},
       {0},
       std::string(40, 'N') + "...  0s\n"},
      {"999 ms is 0 seconds",
       "Sp",
       ">A\nM\n",
       {"-c", "0"},
       {5, 1000, 1999, 1999},
       "Sp...                                 0s\n"},
      {"1000 ms is 1 second",
       "Sp",
       ">A\nM\n",
       {"-c", "0"},
       {5, 1000, 2000, 2000},
       "Sp...                                 1s\n"},
      {"four digits are written whole",
       "Sp",
       ">A\nM\n",
       {"-c", "0"},
       {0, 0, 1234567, 1234567},
       "Sp...                               1234s\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    OneSpeciesRun run;
    run.add_species(c.species, "sp.fa", c.fasta);
    run.run(c.options, c.clock);
    EXPECT_EQ(run.species_line(), c.line);
  }
}

TEST(ProcessSpecies, LaterEntryOfTheSameNameReplacesTheFiles) {
  OneSpeciesRun run;
  run.add_species("Sp", "one.fa", ">A\nMK\n");
  run.add_species("Sp", "two.fa", ">B\nLLL\n");
  run.run({"-w", "1"});
  EXPECT_EQ(run.files.files["fasta/Sp.fas"], ">B\nLLL\n");
  EXPECT_NE(run.out.find("Species_OK:2  Errors:0"), std::string::npos);
}

// Failures leave every earlier file as it was and no staged file behind.
TEST(ProcessSpecies, FailuresKeepEarlierFiles) {
  struct Case {
    const char* name;
    void (*inject)(testing::MemoryFileSystem&);
    std::string message;
  } const kCases[] = {
      {"input missing", [](testing::MemoryFileSystem& f) { f.files.erase("protein/sp.fa"); },
       "can't open input file protein/sp.fa\n"},
      {"bad FASTA",
       [](testing::MemoryFileSystem& f) { f.files["protein/sp.fa"] = ">A\n\n>B\nM\n"; },
       "empty line 2\n"},
      {"duplicates file uncreatable",
       [](testing::MemoryFileSystem& f) { f.uncreatable.insert("dup/Sp.tsv"); },
       "can't create duplicate file dup/Sp.tsv\n"},
      {"status directory missing",
       [](testing::MemoryFileSystem& f) { f.directories.erase("status/"); },
       "can't create status file status/Sp\n"},
      {"output FASTA uncreatable",
       [](testing::MemoryFileSystem& f) { f.uncreatable.insert("fasta/Sp.fas"); },
       "can't create output FASTA file fasta/Sp.fas\n"},
      {"duplicates write fails",
       [](testing::MemoryFileSystem& f) { f.write_error.insert("dup/Sp.tsv"); },
       "can't write duplicate file dup/Sp.tsv\n"},
      {"status write fails",
       [](testing::MemoryFileSystem& f) { f.write_error.insert("status/Sp"); },
       "can't write status file status/Sp\n"},
      {"output FASTA write fails",
       [](testing::MemoryFileSystem& f) { f.write_error.insert("fasta/Sp.fas"); },
       "can't write output FASTA file fasta/Sp.fas\n"},
      {"status rename fails",
       [](testing::MemoryFileSystem& f) { f.publish_error.insert("status/Sp"); },
       "can't create status file status/Sp\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    OneSpeciesRun run;
    run.add_species("Sp", "sp.fa", kTenProteins);
    const std::map<std::string, std::string> earlier = {{"dup/Sp.tsv", "old dup\n"},
                                                        {"status/Sp", "old status\n"},
                                                        {"fasta/Sp.fas", "old fasta\n"}};
    for (const auto& [path, bytes] : earlier) run.files.files[path] = bytes;
    c.inject(run.files);
    run.run({"-w", "1"});
    EXPECT_EQ(run.exit_code, 0);
    const std::string line = run.species_line();
    EXPECT_EQ(line.substr(line.size() - c.message.size()), c.message);
    EXPECT_NE(run.out.find("Species_OK:0  Errors:1"), std::string::npos);
    EXPECT_EQ(run.files.staged_alive, 0);
    for (const auto& [path, bytes] : earlier) {
      // A rename that fails after an earlier one has gone through cannot be undone; here the
      // status rename fails after the duplicates file was replaced.
      if (std::string(c.name) == "status rename fails" && path == "dup/Sp.tsv") continue;
      EXPECT_EQ(run.files.files[path], bytes) << path;
    }
  }
}

// The same kinds of failure against the real file system: earlier files stay byte for byte,
// and no temporary remains.
class HostFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tarnel-flow-" + std::to_string(getpid()));
    fs::remove_all(root_);
    for (const char* dir : {"protein", "status", "dup", "fasta"})
      fs::create_directories(root_ / dir);
    write("all.txt", "header\nSp\tsp.fa\n");
    write("act.txt", "header\n");
    write("protein/sp.fa", kTenProteins);
    for (const char* file : kOutputs) write(file, "earlier\n");
  }
  void TearDown() override {
    if (mounted_) umount2(status_dir().c_str(), MNT_DETACH);
    fs::remove_all(root_);
  }
  std::string status_dir() const { return (root_ / "status").string(); }
  void write(const std::string& relative, const std::string& bytes) {
    std::ofstream(root_ / relative, std::ios::binary) << bytes;
  }
  std::string read(const std::string& relative) {
    std::ifstream in(root_ / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A small tmpfs over the status directory, read-only if asked, holding the earlier file.
  bool mount_status(const char* options, bool read_only) {
    if (geteuid() != 0 || mount("tmpfs", status_dir().c_str(), "tmpfs", 0, options) != 0) {
      return false;
    }
    mounted_ = true;
    write("status/Sp", "earlier\n");
    return !read_only ||
           mount("tmpfs", status_dir().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options) == 0;
  }
  std::string run_tool() {
    std::vector<std::string> arguments = {"tarnel", "-w", "1"};
    for (const char* dir : {"-i", "protein", "-s", "status", "-d", "dup", "-o", "fasta"}) {
      arguments.push_back(dir[0] == '-' ? dir : (root_ / dir).string());
    }
    arguments.push_back((root_ / "act.txt").string());
    arguments.push_back((root_ / "all.txt").string());
    HostFileSystem files;
    testing::FakeClock clock;
    std::string out;
    EXPECT_EQ(testing::run_tool(arguments, out, clock, files), 0);
    return out;
  }
  void expect_earlier_files_and_no_temporaries() {
    for (const char* file : kOutputs) {
      if (fs::exists(root_ / file)) {
        EXPECT_EQ(read(file), "earlier\n") << file;
      }
    }
    for (const char* dir : {"status", "dup", "fasta"}) {
      if (!fs::exists(root_ / dir)) continue;
      for (const auto& entry : fs::directory_iterator(root_ / dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "Sp" || name == "Sp.tsv" || name == "Sp.fas") << "left: " << name;
      }
    }
  }

  static constexpr const char* kOutputs[] = {"status/Sp", "dup/Sp.tsv", "fasta/Sp.fas"};
  fs::path root_;
  bool mounted_ = false;
};

TEST_F(HostFailures, MissingStatusDirectory) {
  fs::remove_all(root_ / "status");
  EXPECT_NE(run_tool().find("can't create status file " + status_dir() + "/Sp\n"),
            std::string::npos);
  expect_earlier_files_and_no_temporaries();
}

TEST_F(HostFailures, ReadOnlyStatusDirectory) {
  // Permissions do not bind root, but a read-only mount does.
  if (geteuid() != 0) {
    fs::permissions(root_ / "status", fs::perms::owner_read | fs::perms::owner_exec);
  } else if (!mount_status("size=64k", true)) {
    GTEST_SKIP() << "skipped: cannot mount a read-only tmpfs here";
  }
  EXPECT_NE(run_tool().find("can't create status file " + status_dir() + "/Sp\n"),
            std::string::npos);
  if (!mounted_) fs::permissions(root_ / "status", fs::perms::owner_all);
  expect_earlier_files_and_no_temporaries();
}

TEST_F(HostFailures, FullFileSystem) {
  if (!mount_status("size=4k,nr_inodes=16", false)) {
    GTEST_SKIP() << "skipped: cannot mount a small tmpfs here (needs root)";
  }
  std::string many;
  for (int i = 0; i < 2000; ++i)
    many += ">P" + std::to_string(i) + "\nMKV" + std::to_string(i) + "\n";
  write("protein/sp.fa", many);
  EXPECT_NE(run_tool().find("can't write status file " + status_dir() + "/Sp\n"),
            std::string::npos);
  expect_earlier_files_and_no_temporaries();
}

TEST_F(HostFailures, SuccessPublishesFilesWithNormalPermissions) {
  EXPECT_NE(run_tool().find("Species_OK:1  Errors:0"), std::string::npos);
  EXPECT_EQ(read("dup/Sp.tsv"), "P0\t2\tP1\tP3\nP2\t1\tP5\n");
  const mode_t mask = umask(0);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat((root_ / "fasta/Sp.fas").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  for (const char* dir : {"status", "dup", "fasta"}) {
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / dir), fs::directory_iterator()), 1);
  }
}

}  // namespace
}  // namespace tarnel
