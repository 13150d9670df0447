#include "species/species_flow.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/host_file_system.h"
#include "test_support.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

// Ten proteins of which P1, P3 and P5 are copies.
const std::string kTenProteins =
    ">P0 zero\nMKVLA\n>P1\nMKVLA\n>P2\nGG\n>P3\nMKVLA\n>P4\nWWWWWWW\n"
    ">P5\nGG\n>P6\nA\n>P7\nCC\n>P8\nDD\n>P9\nEE\n";
const std::string kSpStatistics = " p=10     dup=3     max=2  grp=2    ";
const std::string kSpHeading = "Sp..." + std::string(31, ' ');

// The tool run over the species added, with every output directory present.
struct SpeciesRun {
  testing::MemoryFileSystem files;
  std::string out;

  SpeciesRun() {
    files.directories.insert({"status/", "dup/", "fasta/"});
    files.files["act.txt"] = files.files["all.txt"] = "species_name\tFASTA_file_name\n";
  }
  SpeciesRun& add(const std::string& name, const std::string& file, const std::string& fasta) {
    files.files["all.txt"] += name + "\t" + file + "\n";
    files.files["protein/" + file] = fasta;
    return *this;
  }
  // Returns the first species' console line.
  std::string run(std::vector<std::string> arguments, std::vector<std::int64_t> clock = {0}) {
    arguments.insert(arguments.begin(), "tarnel");
    arguments.insert(arguments.end(), {"act.txt", "all.txt"});
    testing::FakeClock fake(std::move(clock));
    EXPECT_EQ(testing::run_tool(arguments, out, fake, files), 0);
    EXPECT_EQ(files.staged_alive, 0);
    const std::size_t line = out.find('\n', out.find("Number of species")) + 1;
    return out.substr(line, out.find('\n', line) + 1 - line);
  }
};

TEST(ProcessSpecies, CreatesTheFilesTheModesAskFor) {
  for (int modes = 0; modes < 8; ++modes) {
    const bool copy = modes & 1, status = modes & 2, write = modes & 4;
    SCOPED_TRACE(::testing::Message() << "-c " << copy << " -u " << status << " -w " << write);
    SpeciesRun run;
    run.add("Sp", "sp.fa", kTenProteins);
    const std::string line =
        run.run({"-c", copy ? "1" : "0", "-u", status ? "1" : "0", "-w", write ? "1" : "0"});
    EXPECT_EQ(run.files.files.count("dup/Sp.tsv"), copy ? 1u : 0u);
    EXPECT_EQ(run.files.files.count("status/Sp"), status ? 1u : 0u);
    EXPECT_EQ(run.files.files.count("fasta/Sp.fas"), write ? 1u : 0u);
    std::string expected = kSpHeading + (copy ? kSpStatistics : "");
    if (write) expected += copy ? "     7 of     10" : "    10 of     10";
    EXPECT_EQ(line, expected + (write ? " proteins written in " : "") + "  0s\n");
  }
}

TEST(ProcessSpecies, WritesTheOrderedProteinsAndLeavesCopiesOut) {
  SpeciesRun run;
  run.add("Sp", "sp.fa", kTenProteins).run({"-w", "1"});
  EXPECT_EQ(run.files.files["fasta/Sp.fas"],
            ">P4\nWWWWWWW\n>P0\nMKVLA\n>P7\nCC\n>P8\nDD\n>P9\nEE\n>P2\nGG\n>P6\nA\n");
  EXPECT_EQ(run.files.files["dup/Sp.tsv"], "P0\t2\tP1\tP3\nP2\t1\tP5\n");
  const std::string& status = run.files.files["status/Sp"];
  EXPECT_EQ(std::count(status.begin(), status.end(), '\n'), 7);
}

TEST(ProcessSpecies, ConsoleLineFields) {
  const std::string name33(33, 'N');
  const std::string empty =
      kSpHeading + " p=0      dup=0     max=0  grp=0    " + "     0 of      0 proteins written in ";
  const struct {
    const char* name;
    std::string species;
    std::vector<std::string> arguments;
    std::vector<std::int64_t> clock;  // run start, species start, species end
    std::string line;
  } kCases[] = {
      {"empty FASTA", "Sp", {"-w", "1"}, {0}, empty + "  0s\n"},
      {"33-character name", name33, {"-c", "0"}, {0}, name33 + "...  0s\n"},
      {"999 ms", "Sp", {"-c", "0"}, {5, 1000, 1999}, kSpHeading + "  0s\n"},
      {"1000 ms", "Sp", {"-c", "0"}, {5, 1000, 2000}, kSpHeading + "  1s\n"},
      {"four digits", "Sp", {"-c", "0"}, {0, 0, 1234567}, kSpHeading + "1234s\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SpeciesRun().add(c.species, "sp.fa", "").run(c.arguments, c.clock), c.line);
  }
}

TEST(ProcessSpecies, LaterEntryOfTheSameNameReplacesTheFiles) {
  SpeciesRun run;
  run.add("Sp", "one.fa", ">A\nMK\n").add("Sp", "two.fa", ">B\nLLL\n").run({"-w", "1"});
  EXPECT_EQ(run.files.files["fasta/Sp.fas"], ">B\nLLL\n");
  EXPECT_NE(run.out.find("Species_OK:2  Errors:0"), std::string::npos);
}

enum Fault { kNoInput, kBadInput, kNoDirectory, kWriteFails, kRenameFails };

// Every failure leaves the files of an earlier run as they were, also when the last of them
// cannot be renamed, and no staged file alive.
TEST(ProcessSpecies, FailuresKeepEarlierFiles) {
  const std::string kOutputs[] = {"dup/Sp.tsv", "status/Sp", "fasta/Sp.fas"};
  const struct {
    Fault fault;
    std::string path;
    std::string message;
  } kCases[] = {
      {kNoInput, "protein/sp.fa", "can't open input file protein/sp.fa"},
      {kBadInput, "protein/sp.fa", "empty line 2"},
      {kNoDirectory, "dup/", "can't create duplicate file dup/Sp.tsv"},
      {kNoDirectory, "status/", "can't create status file status/Sp"},
      {kNoDirectory, "fasta/", "can't create output FASTA file fasta/Sp.fas"},
      {kWriteFails, "dup/Sp.tsv", "can't write duplicate file dup/Sp.tsv"},
      {kWriteFails, "status/Sp", "can't write status file status/Sp"},
      {kWriteFails, "fasta/Sp.fas", "can't write output FASTA file fasta/Sp.fas"},
      {kRenameFails, "dup/Sp.tsv", "can't create duplicate file dup/Sp.tsv"},
      {kRenameFails, "status/Sp", "can't create status file status/Sp"},
      {kRenameFails, "fasta/Sp.fas", "can't create output FASTA file fasta/Sp.fas"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "fault " << c.fault << " at " << c.path);
    SpeciesRun run;
    run.add("Sp", "sp.fa", kTenProteins);
    for (const std::string& path : kOutputs) run.files.files[path] = "earlier\n";
    if (c.fault == kNoInput) run.files.files.erase(c.path);
    if (c.fault == kBadInput) run.files.files[c.path] = ">A\n\n";
    if (c.fault == kNoDirectory) run.files.directories.erase(c.path);
    if (c.fault == kWriteFails) run.files.write_error.insert(c.path);
    if (c.fault == kRenameFails) run.files.publish_error.insert(c.path);
    const std::string line = run.run({"-w", "1"});
    EXPECT_EQ(line.substr(line.size() - c.message.size() - 1), c.message + "\n");
    EXPECT_NE(run.out.find("Species_OK:0  Errors:1"), std::string::npos);
    for (const std::string& path : kOutputs) EXPECT_EQ(run.files.files[path], "earlier\n") << path;
  }
}

// The same kinds of failure against the real file system.
class HostFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root_);
    for (const char* dir : {"protein", "status", "dup", "fasta"}) fs::create_directories(at_ + dir);
    write("all.txt", "header\nSp\tsp.fa\n");
    write("act.txt", "header\n");
    write("protein/sp.fa", kTenProteins);
    for (const char* file : kOutputs) write(file, "earlier\n");
  }
  void TearDown() override {
    if (mounted_) umount2(status_.c_str(), MNT_DETACH);
    fs::remove_all(root_);
  }
  void write(const std::string& file, const std::string& bytes) {
    std::ofstream(at_ + file, std::ios::binary) << bytes;
  }
  std::string read(const std::string& file) {
    std::ifstream in(at_ + file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A small tmpfs over the status directory, holding the earlier file; false when not root.
  bool mount_status(const char* options, unsigned long flags) {
    if (geteuid() != 0 || mount("tmpfs", status_.c_str(), "tmpfs", 0, options) != 0) return false;
    mounted_ = true;
    write("status/Sp", "earlier\n");
    return flags == 0 || mount("tmpfs", status_.c_str(), "tmpfs", MS_REMOUNT | flags, options) == 0;
  }
  // Runs the tool, expecting `text` on the console; then the earlier files are as they were
  // where they still exist (or all replaced), and each output directory holds at most the one
  // file of its kind: no temporary is left.
  void run(const std::string& text, bool replaced = false) {
    HostFileSystem files;
    testing::FakeClock clock;
    std::string out;
    EXPECT_EQ(
        testing::run_tool({"tarnel", "-w", "1", "-i", at_ + "protein", "-s", status_, "-d",
                           at_ + "dup", "-o", at_ + "fasta", at_ + "act.txt", at_ + "all.txt"},
                          out, clock, files),
        0);
    EXPECT_NE(out.find(text), std::string::npos) << out;
    for (const char* file : kOutputs) {
      EXPECT_TRUE(!fs::exists(at_ + file) || (read(file) == "earlier\n") != replaced) << file;
      const fs::path dir = fs::path(at_ + file).parent_path();
      if (!fs::exists(dir)) continue;
      EXPECT_LE(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << dir;
    }
  }

  static constexpr const char* kOutputs[] = {"status/Sp", "dup/Sp.tsv", "fasta/Sp.fas"};
  const fs::path root_ = fs::temp_directory_path() / ("tarnel-flow-" + std::to_string(getpid()));
  const std::string at_ = root_.string() + "/";
  const std::string status_ = at_ + "status";
  bool mounted_ = false;
};

TEST_F(HostFiles, MissingDirectory) {
  fs::remove_all(status_);
  run("can't create status file " + status_ + "/Sp\n");
}

TEST_F(HostFiles, ReadOnlyDirectory) {
  // Permissions do not bind root, but a read-only mount does.
  if (geteuid() != 0) {
    fs::permissions(status_, fs::perms::owner_read | fs::perms::owner_exec);
  } else if (!mount_status("size=64k", MS_RDONLY)) {
    GTEST_SKIP() << "skipped: cannot mount a read-only tmpfs here";
  }
  run("can't create status file " + status_ + "/Sp\n");
  if (!mounted_) fs::permissions(status_, fs::perms::owner_all);
}

TEST_F(HostFiles, FullFileSystem) {
  if (!mount_status("size=4k,nr_inodes=16", 0)) {
    GTEST_SKIP() << "skipped: cannot mount a small tmpfs here (needs root)";
  }
  std::string many;  // a status file of some 50 kB
  for (int i = 0; i < 2000; ++i) many += ">P\n" + std::to_string(i) + "\n";
  write("protein/sp.fa", many);
  run("can't write status file " + status_ + "/Sp\n");
}

TEST_F(HostFiles, SuccessPublishesFilesWithNormalPermissions) {
  run("Species_OK:1  Errors:0", /*replaced=*/true);
  EXPECT_EQ(read("dup/Sp.tsv"), "P0\t2\tP1\tP3\nP2\t1\tP5\n");
  const mode_t mask = umask(0);
  umask(mask);
  for (const char* file : kOutputs) {
    struct stat info;
    ASSERT_EQ(stat((at_ + file).c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << file;
  }
}

}  // namespace
}  // namespace tarnel
