// Whole runs in-process over a file system in memory: the command line, the lists, the console,
// the files, the report, the exit codes, and several species in flight.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "base/host.h"
#include "run/driver.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::MemoryFileSystem;
using Files = std::map<std::string, std::string>;
using namespace std::string_literals;

const std::string kSep(1, host::kDirectorySeparator);
constexpr char kAbsent[] = "<absent>";  // no file at the path
constexpr char kAny[] = "<any>";        // a file, whatever it holds

std::string usage() {
  std::ifstream file(TARNEL_USAGE_FILE, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}
// The program path, then the words of the text; '' stands for an empty argument.
std::vector<std::string> arguments_of(const std::string& text) {
  std::vector<std::string> arguments{"tarnel"};
  for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
    end = std::min(text.find(' ', at), text.size());
    arguments.push_back(text.substr(at, end - at) == "''" ? "" : text.substr(at, end - at));
  }
  return arguments;
}
std::string banner(const std::vector<std::string>& arguments) {
  std::string text = "\ntarnel v1.10:";
  for (std::size_t i = 1; i < arguments.size(); ++i) text += " " + arguments[i];
  return text + "\n\n";
}
std::string line(std::string name, const std::string& rest) {
  name += "...";
  if (name.size() < 36) name.resize(36, ' ');
  return name + rest + "\n";
}
std::string missing(const std::string& name, const std::string& file) {
  return line(name, "can't open input file protein" + kSep + file);
}
std::string summary(int lines, int ok, int errors, int minutes = 0) {
  return "\nLines:" + std::to_string(lines) + "  Species_OK:" + std::to_string(ok) +
         "  Errors:" + std::to_string(errors) + "  Time:" + std::to_string(minutes) + "m\n";
}

// Three species of which the second is active; the third has no FASTA file.
MemoryFileSystem collection() {
  MemoryFileSystem files;
  files.directories = {"", "status/", "dup/", "fasta/"};
  files.files = {
      {"all.txt", "h\nEscherichia_coli\tecoli.fa\nHomo_sapiens\thuman.fa\nMus\tmouse.fa\n"},
      {"act.txt", "h\nHomo_sapiens\thuman.fa\n"},
      {"protein/ecoli.fa", ">e1\nMKV\n>e2\nMKV\n>e3\nAA\n"},
      {"protein/human.fa", ">h1 desc\nMA\n"}};
  return files;
}

struct Outcome {
  int code;
  std::string out, err;
  MemoryFileSystem files;
};
Outcome whole_run(const std::vector<std::string>& arguments, MemoryFileSystem files = collection(),
                  std::vector<std::int64_t> readings = {0}) {
  testing::FakeClock clock(std::move(readings));
  std::ostringstream out, err;
  const int code = run(arguments, out, err, clock, files);
  return {code, out.str(), err.str(), std::move(files)};
}

// Files from paths and contents in turn.
template <typename... Texts>
Files on(const Texts&... texts) {
  const std::vector<std::string> words{texts...};
  Files files;
  for (std::size_t i = 0; i + 1 < words.size(); i += 2) files[words[i]] = words[i + 1];
  return files;
}
// Readings of the clock in turn: the run's start, each species' start and end, the run's end.
template <typename... Millis>
std::vector<std::int64_t> ms(Millis... millis) {
  return {millis...};
}

struct Case {
  std::string arguments;  // as arguments_of reads them
  int code;
  std::string console;  // after the banner; unchecked when empty
  Files given{};        // over the collection, before the run
  Files after{};        // what the run leaves at these paths
  std::vector<std::int64_t> clock{0};
  bool banner = true;  // shown before the console text
};

TEST(RunTest, EachRunEndsWithItsConsoleFilesAndExitCode) {
  const std::string e = "Escherichia_coli", h = "Homo_sapiens", lists = "act.txt all.txt";
  const std::string ecoli = "protein/ecoli.fa", st = "status/" + e, dup = "dup/" + e + ".tsv";
  const std::string fas = "fasta/" + e + ".fas", all = collection().files["all.txt"];
  const std::string e_stats = " p=3      dup=1     max=1  grp=1    ";
  const std::string h_stats = " p=1      dup=0     max=0  grp=0    ";
  const std::string e_line = line(e, e_stats + "  0s"), h_line = line(h, h_stats + "  0s");
  const std::string h_fasta = line(h, h_stats + "     1 of      1 proteins written in   0s");
  const std::string activate = "Number of species to activate: 1 of 3\n",
                    mus = missing("Mus", "mouse.fa");
  const std::string full = activate + e_line + h_line + mus + summary(3, 2, 1);
  const std::string unknown = "Unknown option -\n",
                    two = "Two lists of species must be specified\n";
  const std::string long_help = usage() + "Long options (exact names;", R(65536, 'R');
  std::string garbage = ">bin|x\n";  // every byte value, twice, high to low
  for (int b = 511; b > 0; --b) garbage.push_back(static_cast<char>(b));
  std::string big;  // some 3.5 MB, already as written: its FASTA file takes several blocks
  for (int i = 0; i < 40000; ++i)
    big += ">P" + std::to_string(i) + "\n" + std::string(80, "MKV"[i % 3]) + "\n";
  const std::string order = ">b\nMKV\n>c\nM\n>a\nMK\n", by_name = ">a\nMK\n>b\nMKV\n>c\nM\n";
  const std::string every_kind =
      "A\ta\n;A\ta\n#B\tb\n\r\nHomo sapiens\t\ths.fa\tx\nC\t \r\r\nD\td.fa\0\tx\nE\te.fa"s;
  const Case kCases[] = {
      // Help and version before the banner, for a first argument that asks for them.
      {"--version", 0, "tarnel 1.10\n", {}, {}, {0}, false},
      {"--help -x", 0, long_help, {}, {}, {0}, false},
      // The command line, read left to right after the banner.
      {"act.txt all.txt -H -x", 0, usage()},
      {"act.txt -?", 0, usage()},
      {"act.txt --version -x", 0, "tarnel 1.10\n"},
      {"act.txt --help", 0, long_help},
      {"act.txt all.txt -X -i", 1, "Unknown option X\n"},
      {"act.txt -", 1, "Unknown option \0\n"s},  // a lone dash: its NUL is the letter
      {"act.txt", 1, two},
      {"-i --help -s --only x", 1, two},  // a letter's value stays a value
      {"--jobs=0 " + lists, 1, "Bad number of jobs 0\n"},
      {"--jobs= " + lists, 1, "Bad number of jobs \n"},
      {"--jobs +2 " + lists, 1, "Bad number of jobs +2\n"},
      {"--jobs 2x " + lists, 1, "Bad number of jobs 2x\n"},
      {"--jobs 99999999999999999999 " + lists, 0, full},
      {"--jobs 10 " + lists, 0, full},
      {"act.txt all.txt third", 0, "Extra argument third ignored\n" + full},
      // The lists.
      {"act.txt none", 2, "Bad or missing list of all species none\n"},
      {"none all.txt", 2, "Bad or missing list of active species, none\n"},
      {lists, 2, "Failed at line 5\n", on("all.txt", all + R, "act.txt", "h\n" + R)},
      {lists, 3, "no file name in line 5\n", on("all.txt", all + "Rattus\t\t\r\n")},
      {lists, 3, "no 2nd field in line 3\n", on("act.txt", "h\r\n;\r\nA a\r\n")},
      {"act.txt g", 3, "no 2nd field in line 2\n", on("g", garbage)},
      {"l l", 3, "no 2nd field in line 3\n", on("l", "h\n #x\tf\n   \n")},
      // Name and file name are not joined: "Homo_sapien" + "shuman.fa" is not this species.
      {lists, 4, "Species Homo_sapien disagrees with master list\n",
       on("act.txt", "h\nHomo_sapiens\thuman.fa\nHomo_sapien\tshuman.fa\n")},
      {"--report r.tsv --only Mus --only=Rattus " + lists, 4,
       activate + "Species Rattus is not in the list of all species\n"},
      {"l l", 0,
       "Number of species to activate: 4 of 4\n" + missing("Homo sapiens", "hs.fa") +
           missing("C", " \r") + missing("D", "d.fa") + missing("E", "e.fa") + summary(8, 0, 4),
       on("l", every_kind)},
      {"z z", 0, "Number of species to activate: 0 of 0\n" + summary(1, 0, 0, 1), on("z", ""), on(),
       ms(1000, 61000)},
      // The first entry of the full list that matches is marked, in every species' mask.
      {lists, 0, "",
       on("all.txt", "h\nA\tx.fa\nB\tx.fa\nA\tx.fa\n", "act.txt", "h\nA\tx.fa\nA\tx.fa\n",
          "protein/x.fa", ">p\nM\n"),
       on("status/B", "      1      0     1 .  \n")},
      // Whole runs; the clock reads the run's start, each species' start and end, the run's end.
      {lists, 0, activate + e_line + line(h, h_stats + "  2s") + mus + summary(3, 2, 1), on(),
       on(st, "      1      0     3  . \n      5      2     2  . \n", dup, "e1\t1\te2\n",
          "status/" + h, "      1      0     2 ...\n", "dup/" + h + ".tsv", "", fas, kAbsent),
       ms(5000, 6000, 6999, 7000, 9500, 10000, 64999)},
      {"--mkdir -w 1 -r 0 -o o -p fa -s s/ -t t -d -d -e .e -i '' -c 1 -u 1 all.txt all.txt", 0, "",
       on("ecoli.fa", collection().files[ecoli]),
       on("o/" + e + ".fa", ">e1\nMKV\n>e3\nAA\n", "-d/" + e + ".e", "e1\t1\te2\n", "s/" + e + ".t",
          "      1      0     3 ...\n      5      2     2 ...\n")},
      {"-c 00 -u 0abc -w 0 " + lists, 0,
       activate + line(e, "  0s") + line(h, "  0s") + mus + summary(3, 2, 1), on(),
       on(st, kAbsent, dup, kAbsent, fas, kAbsent)},
      {"-c no -u '' -w 2 " + lists, 0,
       activate + line(e, e_stats + "     2 of      3 proteins written in   0s") + h_fasta + mus +
           summary(3, 2, 1),
       on(), on(st, kAny, dup, kAny, fas, kAny)},
      {"-c 0 -w 1 " + lists, 0, "", on(), on(fas, collection().files[ecoli], dup, kAbsent)},
      {"-w 1 -r +2.5 " + lists, 0, "", on(ecoli, order), on(fas, by_name)},
      {"-w 1 -r -1 " + lists, 0, "", on(ecoli, order), on(fas, ">b\nMKV\n>a\nMK\n>c\nM\n")},
      {"-w 1 -r 20 " + lists, 0, "", on(ecoli, order), on(fas, ">c\nM\n>a\nMK\n>b\nMKV\n")},
      {"-w 1 -r abc " + lists, 0, "", on(ecoli, order), on(fas, order)},
      // Directories are never made without --mkdir.
      {"-d nodir --only " + e + " " + lists, 0,
       activate + line(e, e_stats + "can't create duplicate file nodir" + kSep + e + ".tsv") +
           summary(3, 0, 1),
       on(), on(st, kAbsent)},
      {"-c 0 -r 0 -w 1 " + lists, 0, "", on(ecoli, big), on(fas, big)},
      // Long sequences are wrapped at 80 residues, whatever the input's line lengths.
      {"-w 1 " + lists, 0, "", on(ecoli, ">L\n" + std::string(170, 'K') + "\n"),
       on(fas, ">L\n" + std::string(80, 'K') + "\n" + std::string(80, 'K') + "\nKKKKKKKKKK\n")},
      // Hostile input: a NUL byte ends a line's text, a CR alone ends no line, garbage is data.
      {"-w 1 " + lists, 0, "", on(ecoli, ">P1\0hidden\nMK\0V\n>P2 x\nMK\n"s), on(fas, ">P1\nMK\n")},
      {lists, 0, "", on(ecoli, ">P1 first\rMKV\r>P2\rMKV\r"), on(st, "", dup, "")},
      {lists, 0, "", on(ecoli, garbage), on(st, "      1      0   260  . \n")},
      {lists, 0, activate + line(e, "failed at line 2") + h_line + mus + summary(3, 1, 2),
       on(ecoli, ">P1\n" + R + R + "\n>P2\nMK\n", st, "earlier\n"),
       on(st, "earlier\n", dup, kAbsent)},
      // --only runs every entry of the name, with the mask of the whole list.
      {"--only " + h + " -w 1 " + lists, 0,
       "Number of species to activate: 1 of 4\n" + h_fasta + h_fasta + summary(3, 2, 0),
       on("all.txt", all + h + "\thuman.fa\n"),
       on("status/" + h, "      1      0     2  .  \n", st, kAbsent)},
      {"--strict " + lists, 5, full},
      {"--strict --only " + h + " " + lists, 0, activate + h_line + summary(3, 1, 0)},
      {"--only=Mus --only Mus " + lists, 0, activate + mus + summary(3, 0, 1)},
      {"--strict --report no/r.tsv " + lists, 6, full + "can't write report file no/r.tsv\n"},
      {"--mkdir --strict --report no/r.tsv " + lists, 5, full, on(), on("no/r.tsv", kAny)},
      // A species that fails reads the clock once more, for the report.
      {"-i a\tb/ -w 1 --report=r.tsv " + lists, 0, "",
       on("all.txt", "h\n" + e + "\tecoli.fa\n" + h + "\thuman.fa\nMus\tmou\\se.fa\n",
          "a\tb/ecoli.fa", collection().files[ecoli], "a\tb/human.fa", ">h1\nMA\n\n>h2\nM\n"),
       on("r.tsv",
          "species\tfasta_file\tstatus\tmessage\treason\tproteins\tcopies\t"
          "largest_group\tgroups\twritten\tseconds\tbytes_read\n" +
              e + "\ta\\tb/ecoli.fa\tok\t\t\t3\t1\t1\t1\t2\t1.134\t23\n" + h +
              "\ta\\tb/human.fa\terror\tempty line 3\t\t\t\t\t\t\t0.001\t14\n"
              "Mus\ta\\tb/mou\\\\se.fa\terror\tcan't open input file a\\tb/mou\\\\se.fa\t"
              "No such file or directory\t\t\t\t\t\t0.500\t0\n"),
       ms(0, 100, 1234, 2000, 2001, 3000, 3500)},
  };
  std::vector<Case> cases(std::begin(kCases), std::end(kCases));
  // Help before the banner, for a first argument that asks for it.
  for (const char* asks : {"", "?x b", "-help -x", "/H", "-?"})
    cases.push_back({asks, 0, usage(), {}, {}, {0}, false});
  // An option without its value, and what the value is called in the one message that refuses it.
  for (const std::string missing :
       {"-c copy_mode value", "-D path of protein duplicates",
        "-e extension of protein duplicate files", "-I input path", "-o output path",
        "-P output file extension", "-r value of ordering", "-S status path",
        "-t status file extension", "-U status_mode value", "-w write_mode value",
        "--report report file path", "--only species name", "--jobs number of jobs"}) {
    const std::size_t space = missing.find(' ');
    cases.push_back(
        {lists + " " + missing.substr(0, space), 1, "Missing " + missing.substr(space + 1) + "\n"});
  }
  // Long options are matched whole and exactly.
  for (const char* refused :
       {"act.txt all.txt --bogus", "-- act.txt all.txt", "act.txt all.txt --stric",
        "act.txt all.txt --Strict", "act.txt all.txt --strict=", "--help=1 act.txt all.txt"})
    cases.push_back({refused, 1, unknown});
  for (const Case& c : cases) {
    const std::vector<std::string> arguments = arguments_of(c.arguments);
    SCOPED_TRACE(c.arguments);
    MemoryFileSystem files = collection();
    for (const auto& [path, bytes] : c.given) files.files[path] = bytes;
    const Files before = files.files;
    const Outcome run = whole_run(arguments, std::move(files), c.clock);
    EXPECT_EQ(c.code, run.code);
    const std::string expected = (c.banner ? banner(arguments) : "") + c.console;
    // The long options follow the usage text: only their first line is pinned here.
    if (!c.console.empty()) {
      EXPECT_EQ(expected, c.console == long_help ? run.out.substr(0, expected.size()) : run.out);
    }
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0, run.files.staged_alive);
    if (run.out.find("\nLines:") == std::string::npos) {
      EXPECT_EQ(before, run.files.files);  // no species was processed
    }
    for (const auto& [path, bytes] : c.after) {
      const auto found = run.files.files.find(path);
      const bool there = found != run.files.files.end();
      EXPECT_EQ(bytes, !there ? kAbsent : bytes == kAny ? kAny : found->second) << path;
    }
  }
  // '/' begins every absolute path on a POSIX host: there only the whole forms ask for help.
  EXPECT_EQ(host::kWindows
                ? usage()
                : banner(arguments_of("/h/l b")) + "Bad or missing list of all species b\n",
            whole_run(arguments_of("/h/l b")).out);
  // The program's name is the start path's last part without its extension.
  EXPECT_EQ("\ntarnel.old v1.10: -q\n\nUnknown option q\n",
            whole_run({"bin" + kSep + "tarnel.old.exe", "-q"}).out);
}

// A stream whose every write fails, like a console redirected to a full disk.
class FullDisk final : public std::streambuf {
 protected:
  int_type overflow(int_type) override {
    errno = ENOSPC;
    return traits_type::eof();
  }
};

TEST(RunTest, AConsoleThatCannotBeWrittenIsAFailureButTheRunGoesOn) {
  for (const char* strict : {"--sync", "--strict"}) {
    MemoryFileSystem files = collection();
    FullDisk full;
    std::ostream out(&full);
    std::ostringstream err;
    testing::FakeClock clock;
    EXPECT_EQ(7, run({"tarnel", strict, "act.txt", "all.txt"}, out, err, clock, files));
    EXPECT_EQ("tarnel: can't write standard output: No space left on device\n", err.str());
    EXPECT_EQ(1u, files.files.count("status/Homo_sapiens"));
  }
}

// Twelve species with copies among them, and every kind of trouble: a missing and a malformed
// file, a status file that cannot be written, a duplicates file that cannot be renamed, S11
// (large enough for helper threads of its own) listed twice, and with -o protein -p .fa, an
// output that the next species, Reader, reads.
MemoryFileSystem many_species() {
  MemoryFileSystem files;
  files.directories = {"", "status/", "dup/", "protein/"};
  std::string list = "h\n";
  for (int s = 0; s < 12; ++s) {
    const std::string name = "S" + std::to_string(s);
    list += name + "\ts" + std::to_string(s) + ".fa\n";
    std::string& fasta = files.files["protein/s" + std::to_string(s) + ".fa"];
    for (int p = 0; p < (s == 11 ? 70000 : 20 + 37 * s); ++p) {
      fasta += ">" + name + "_" + std::to_string(p) + " protein\n";
      fasta += std::string(1 + (p * 7 + s) % 13, "MKVLAGHST"[p % 9]) + "\n";
    }
  }
  files.files["all.txt"] = list + "S11\tsecond.fa\nReader\tS11.fa\nMissing\tm.fa\nBad\tbad.fa\n";
  files.files["act.txt"] = "h\nS2\ts2.fa\n";
  files.files["protein/bad.fa"] = ">A\n\n";
  files.files["protein/second.fa"] = ">X\nMKV\n>Y\nMKV\n";
  files.files["protein/S11.fa"] = ">old\nW\n";
  files.write_error.insert("status/S7");
  files.publish_error.insert("dup/S8.tsv");
  return files;
}

Outcome with_jobs(const std::string& jobs, MemoryFileSystem files) {
  Outcome run = whole_run(
      arguments_of("-w 1 -o protein -p .fa --report r.tsv --jobs " + jobs + " act.txt all.txt"),
      std::move(files));
  EXPECT_EQ(0, run.files.staged_alive);
  run.out.erase(0, run.out.find("Number of species"));  // the banner names the jobs
  return run;
}

TEST(RunTest, SpeciesInFlightTogetherShowAndWriteWhatOneAfterTheOtherDoes) {
  const Outcome one = with_jobs("1", many_species());
  ASSERT_NE(one.out.find("Species_OK:12  Errors:4"), std::string::npos) << one.out;
  EXPECT_EQ(one.files.files.at("protein/Reader.fa"), one.files.files.at("protein/S11.fa"));
  // An output that fails gives the system's reason in the report.
  EXPECT_NE(one.files.files.at("r.tsv").find("S7\tNo space left on device\t"), std::string::npos);
  for (int round = 0; round < 5; ++round) {
    const Outcome four = with_jobs("4", many_species());
    EXPECT_EQ(one.code, four.code);
    EXPECT_EQ(one.out, four.out);
    EXPECT_EQ(one.files.files, four.files.files);
  }
  // The large S11 meets a full disk while the species after it go on; alone it has room.
  for (const std::string jobs : {"1", "2"}) {
    MemoryFileSystem files = many_species();
    files.full_once.insert("status/S11");
    const std::string out = with_jobs(jobs, std::move(files)).out;
    EXPECT_EQ(out.find("can't write status file status" + kSep + "S11") == std::string::npos,
              jobs == "2");
  }
}

}  // namespace
}  // namespace tarnel
