#include "run/command_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "run/host.h"
#include "run/run_settings.h"

namespace tarnel {
namespace {

// The whole usage text, as a user sees it for a tool started as "tarnel".
constexpr std::string_view kUsage = R"(
Usage (v1.10): tarnel [options] active_species all_species

Options (case insensitive):
-c {0|1}  : 1=eliminate protein copies, 0=no [1]
-d string : directory for protein duplicate files [dup]
-e string : extension of protein duplicate files [.tsv]
-h -?     : show this help information
-i string : directory of input FASTA files [protein]
-o string : directory for output FASTA files [fasta]
-p string : extension of output files [.fas]
-r number : -1=size> 1=size< 2=lexico 0=unsorted [-1]
-s string : directory for status files [status]
-t string : extension of status files []
-u {0|1}  : 1=update status files, 0=no [1]
-w {0|1}  : 1=write output FASTA, 0=no [0]

active_species: list of new or modified species
all_species: full list of species in process
line of species list: species_name\tFASTA_file_name\t...

Example: tarnel -w 1 -r 0 species.txt species.txt

)";

// Every field, so that a comparison shows which one went wrong and catches a stray write.
std::string describe(const RunSettings& s) {
  std::ostringstream out;
  out << "active_species=[" << s.active_species << "] all_species=[" << s.all_species
      << "] input_path=[" << s.input_path << "] output_path=[" << s.output_path
      << "] output_extension=[" << s.output_extension << "] status_path=[" << s.status_path
      << "] status_extension=[" << s.status_extension << "] duplicates_path=[" << s.duplicates_path
      << "] duplicates_extension=[" << s.duplicates_extension << "] copy_mode=" << s.copy_mode
      << " status_mode=" << s.status_mode << " write_mode=" << s.write_mode
      << " ordering=" << s.ordering;
  return out.str();
}

struct Parsed {
  ParseOutcome outcome;
  std::string console;
  RunSettings settings;
};

Parsed parse(const Arguments& arguments) {
  std::ostringstream out;
  Console console(out);
  Parsed parsed{ParseOutcome::Failed, "", RunSettings{}};
  parsed.outcome = parse_command_line(arguments, parsed.settings, console, "tarnel");
  parsed.console = out.str();
  return parsed;
}

const char* outcome_name(ParseOutcome outcome) {
  switch (outcome) {
    case ParseOutcome::Ready:
      return "Ready";
    case ParseOutcome::HelpShown:
      return "HelpShown";
    case ParseOutcome::Failed:
      return "Failed";
  }
  return "?";
}

TEST(DeriveProgramNameTest, CutsDirectoriesThenTheLastExtension) {
  struct Case {
    const char* start_path;
    const char* on_posix;
    const char* on_windows;
  };
  const Case kCases[] = {
      {"tarnel", "tarnel", "tarnel"},
      {"E:\\tools\\tarnel.exe", "tarnel", "tarnel"},
      {"tarnel.old.exe", "tarnel.old", "tarnel.old"},
      {"bin/tarnel.exe", "tarnel", "bin/tarnel"},
      {"./tarnel", "tarnel", ""},
      {"/usr/local/bin/tarnel", "tarnel", "/usr/local/bin/tarnel"},
      {"build.d/tarnel", "tarnel", "build"},
      {"C:\\v1.10\\tarnel", "tarnel", "tarnel"},
      {".tarnel", "", ""},
      {"tools\\", "", ""},
      {"", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.start_path);
    EXPECT_EQ(host::kWindows ? c.on_windows : c.on_posix, derive_program_name(c.start_path));
  }
}

TEST(IsHelpRequestTest, LooksAtTheFirstArgumentOnly) {
  struct Case {
    Arguments arguments;
    bool help;
  };
  const Case kCases[] = {
      {{"tarnel"}, true},
      {{}, true},
      {{"tarnel", "?"}, true},
      {{"tarnel", "?x", "a", "b"}, true},
      {{"tarnel", "-?"}, true},
      {{"tarnel", "/?"}, true},
      {{"tarnel", "-H"}, true},
      {{"tarnel", "/h"}, true},
      {{"tarnel", "-help", "a", "b"}, true},
      {{"tarnel", "/home/lists.txt", "all.txt"}, true},
      {{"tarnel", "-x"}, false},
      {{"tarnel", "-"}, false},
      {{"tarnel", "/"}, false},
      {{"tarnel", ""}, false},
      {{"tarnel", "h"}, false},
      {{"tarnel", "--h"}, false},
      {{"tarnel", "x?"}, false},
      {{"tarnel", "a", "-h"}, false},
      {{"tarnel", "a", "/h"}, false},
      {{"tarnel", "a", "b", "?"}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    EXPECT_EQ(c.help, is_help_request(c.arguments));
  }
}

TEST(PrintUsageTest, PrintsTheWholeTextWithTheProgramName) {
  std::ostringstream out;
  Console console(out);
  print_usage(console, "tarnel");
  EXPECT_EQ(kUsage, out.str());
}

TEST(PrintBannerTest, ShowsEveryArgumentAsGiven) {
  struct Case {
    const char* name;
    std::string program_name;
    Arguments arguments;
    std::string banner;
  };
  const Case kCases[] = {
      {"options and lists",
       "tarnel",
       {"t", "-r", "0", "act.txt", "all.txt"},
       "\ntarnel v1.10: -r 0 act.txt all.txt\n\n"},
      {"no arguments", "tarnel", {"t"}, "\ntarnel v1.10:\n\n"},
      {"empty and blank arguments kept",
       "tarnel",
       {"t", "", "a b", "\t"},
       "\ntarnel v1.10:  a b \t\n\n"},
      {"empty program name", "", {"./tarnel", "a", "b"}, "\n v1.10: a b\n\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    Console console(out);
    print_banner(console, c.program_name, c.arguments);
    EXPECT_EQ(c.banner, out.str());
  }
}

struct ParseCase {
  const char* name;
  Arguments arguments;  // after the program path
  ParseOutcome outcome;
  std::string console;
  // Applied to the built-in defaults with the lists a.txt and b.txt, it gives the settings
  // expected after a successful parse.
  std::function<void(RunSettings&)> change = nullptr;
};

void expect_parse(const ParseCase& c) {
  SCOPED_TRACE(c.name);
  Arguments arguments{"tarnel"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  const Parsed parsed = parse(arguments);
  EXPECT_STREQ(outcome_name(c.outcome), outcome_name(parsed.outcome));
  EXPECT_EQ(c.console, parsed.console);
  if (c.outcome == ParseOutcome::Ready) {
    RunSettings expected;
    expected.active_species = "a.txt";
    expected.all_species = "b.txt";
    if (c.change) c.change(expected);
    EXPECT_EQ(describe(expected), describe(parsed.settings));
  }
}

TEST(ParseCommandLineTest, EveryOptionTakesItsValue) {
  const ParseCase kCases[] = {
      {"defaults", {"a.txt", "b.txt"}, ParseOutcome::Ready, "", nullptr},
      {"text options, lists between them",
       {"-d", "D", "a.txt", "-e", "E", "-i", "I", "-o", "O", "b.txt", "-p", "P", "-s", "S", "-t",
        "T"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.duplicates_path = "D";
         s.duplicates_extension = "E";
         s.input_path = "I";
         s.output_path = "O";
         s.output_extension = "P";
         s.status_path = "S";
         s.status_extension = "T";
       }},
      {"upper-case letters",
       {"-D", "D", "-E", "E", "-I", "I", "-O", "O", "-P", "P", "-S",    "S",
        "-T", "T", "-C", "0", "-U", "0", "-W", "1", "-R", "2", "a.txt", "b.txt"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.duplicates_path = "D";
         s.duplicates_extension = "E";
         s.input_path = "I";
         s.output_path = "O";
         s.output_extension = "P";
         s.status_path = "S";
         s.status_extension = "T";
         s.copy_mode = 0;
         s.status_mode = 0;
         s.write_mode = 1;
         s.ordering = 2;
       }},
      {"only the second character counts",
       {"-copy", "0", "-write", "1", "-input", "in", "a.txt", "b.txt"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.copy_mode = 0;
         s.write_mode = 1;
         s.input_path = "in";
       }},
      {"a value that looks like an option is a value",
       {"-i", "-o", "-s", "-h", "-d", "-?", "-e", "", "a.txt", "b.txt"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.input_path = "-o";
         s.status_path = "-h";
         s.duplicates_path = "-?";
         s.duplicates_extension = "";
       }},
      {"empty values",
       {"-i", "", "-t", "", "-c", "", "a.txt", "b.txt"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.input_path = "";
         s.copy_mode = 1;
       }},
      {"the last occurrence wins",
       {"-w", "1", "-s", "x", "a.txt", "-w", "0", "-s", "y", "b.txt", "-r", "1", "-r", "0"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.status_path = "y";
         s.ordering = 0;
       }},
      {"values are not normalised while parsing",
       {"-o", "out", "-p", "fa", "a.txt", "b.txt"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) {
         s.output_path = "out";
         s.output_extension = "fa";
       }},
  };
  for (const auto& c : kCases) expect_parse(c);
}

TEST(ParseCommandLineTest, SwitchesAreOffOnlyForALeadingZero) {
  struct Case {
    const char* value;
    std::int32_t mode;
  };
  const Case kCases[] = {{"0", 0},  {"00", 0}, {"0abc", 0}, {"1", 1}, {"2", 1},
                         {"no", 1}, {"", 1},   {" 0", 1},   {"-0", 1}};
  for (const auto& c : kCases) {
    for (const char* letter : {"-c", "-u", "-w", "-C", "-U", "-W"}) {
      SCOPED_TRACE(std::string(letter) + " [" + c.value + "]");
      const Parsed parsed = parse({"tarnel", letter, c.value, "a.txt", "b.txt"});
      ASSERT_EQ(ParseOutcome::Ready, parsed.outcome);
      EXPECT_EQ("", parsed.console);
      const char key = static_cast<char>(letter[1] | 0x20);
      const std::int32_t mode = key == 'c'   ? parsed.settings.copy_mode
                                : key == 'u' ? parsed.settings.status_mode
                                             : parsed.settings.write_mode;
      EXPECT_EQ(c.mode, mode);
    }
  }
}

TEST(ParseCommandLineTest, OrderingTakesALeadingDecimalInteger) {
  struct Case {
    const char* value;
    std::int32_t ordering;
  };
  // Values without a leading number give 0 and numbers beyond 32 bits are clamped; neither
  // prints anything.
  const Case kCases[] = {
      {"2", 2},
      {"2x", 2},
      {"+2", 2},
      {"-1", -1},
      {"0x10", 0},
      {" \t\n\v\f\r7", 7},
      {"  -12abc", -12},
      {"007", 7},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+-2", 0},
      {"- 2", 0},
      {"x2", 0},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", 2147483647},
      {"-99999999999999999999999", -2147483647 - 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("[") + c.value + "]");
    const Parsed parsed = parse({"tarnel", "-r", c.value, "a.txt", "b.txt"});
    ASSERT_EQ(ParseOutcome::Ready, parsed.outcome);
    EXPECT_EQ("", parsed.console);
    EXPECT_EQ(c.ordering, parsed.settings.ordering);
  }
}

TEST(ParseCommandLineTest, AnOptionWithoutItsValueFails) {
  struct Case {
    const char* option;
    const char* message;
  };
  const Case kCases[] = {
      {"-c", "Missing copy_mode value\n"},
      {"-d", "Missing path of protein duplicates\n"},
      {"-e", "Missing extension of protein duplicate files\n"},
      {"-i", "Missing input path\n"},
      {"-o", "Missing output path\n"},
      {"-p", "Missing output file extension\n"},
      {"-r", "Missing value of ordering\n"},
      {"-s", "Missing status path\n"},
      {"-t", "Missing status file extension\n"},
      {"-u", "Missing status_mode value\n"},
      {"-w", "Missing write_mode value\n"},
      {"-W", "Missing write_mode value\n"},
      {"-Input", "Missing input path\n"},
  };
  for (const auto& c : kCases) {
    expect_parse({c.option, {"a.txt", "b.txt", c.option}, ParseOutcome::Failed, c.message, {}});
  }
}

TEST(ParseCommandLineTest, UnknownOptionsFail) {
  const ParseCase kCases[] = {
      {"letter outside the table",
       {"-x", "a.txt", "b.txt"},
       ParseOutcome::Failed,
       "Unknown option x\n"},
      {"reported in its own case",
       {"a.txt", "b.txt", "-X"},
       ParseOutcome::Failed,
       "Unknown option X\n"},
      {"digit", {"-1", "a.txt", "b.txt"}, ParseOutcome::Failed, "Unknown option 1\n"},
      {"double dash",
       {"--copy", "0", "a.txt", "b.txt"},
       ParseOutcome::Failed,
       "Unknown option -\n"},
      {"lone dash: the string's end is the character",
       {"a.txt", "-", "b.txt"},
       ParseOutcome::Failed,
       std::string("Unknown option \0\n", 17)},
      {"a slash does not lead an option after the first argument",
       {"a.txt", "/x", "-q"},
       ParseOutcome::Failed,
       "Unknown option q\n"},
  };
  for (const auto& c : kCases) expect_parse(c);
}

TEST(ParseCommandLineTest, PositionalArgumentsFillBothLists) {
  const ParseCase kCases[] = {
      {"third argument warned about",
       {"a.txt", "b.txt", "c.txt"},
       ParseOutcome::Ready,
       "Extra argument c.txt ignored\n"},
      {"every extra argument warned about in turn",
       {"a.txt", "-w", "1", "b.txt", "c.txt", "", "d.txt"},
       ParseOutcome::Ready,
       "Extra argument c.txt ignored\nExtra argument  ignored\nExtra argument d.txt ignored\n",
       [](RunSettings& s) { s.write_mode = 1; }},
      {"an empty argument leaves its list empty",
       {"", "a.txt", "", "b.txt"},
       ParseOutcome::Ready,
       ""},
      {"slash h after the first argument is a path",
       {"a.txt", "/h"},
       ParseOutcome::Ready,
       "",
       [](RunSettings& s) { s.all_species = "/h"; }},
      {"one list", {"a.txt"}, ParseOutcome::Failed, "Two lists of species must be specified\n"},
      {"no list", {"-r", "0"}, ParseOutcome::Failed, "Two lists of species must be specified\n"},
      {"an empty second list",
       {"a.txt", ""},
       ParseOutcome::Failed,
       "Two lists of species must be specified\n"},
      {"the first failure ends parsing",
       {"a.txt", "b.txt", "c.txt", "-q", "d.txt", "-i"},
       ParseOutcome::Failed,
       "Extra argument c.txt ignored\nUnknown option q\n"},
  };
  for (const auto& c : kCases) expect_parse(c);
}

TEST(ParseCommandLineTest, AHelpOptionShowsTheUsageAndStops) {
  const std::string usage(kUsage);
  const ParseCase kCases[] = {
      {"after both lists, before an error",
       {"a.txt", "b.txt", "-h", "-q", "-i"},
       ParseOutcome::HelpShown,
       usage},
      {"after a warning",
       {"a.txt", "b.txt", "c.txt", "-Help"},
       ParseOutcome::HelpShown,
       "Extra argument c.txt ignored\n" + usage},
      {"question mark", {"a.txt", "-?"}, ParseOutcome::HelpShown, usage},
      {"upper case", {"-r", "0", "-H"}, ParseOutcome::HelpShown, usage},
  };
  for (const auto& c : kCases) expect_parse(c);
}

TEST(NormaliseSettingsTest, AddsSeparatorsAndDots) {
  struct Case {
    const char* value;
    std::string directory;
    std::string extension;
  };
  const std::string separator(1, host::kDirectorySeparator);
  const Case kCases[] = {
      {"out", "out" + separator, ".out"},
      {"out/", "out/", ".out/"},
      {"out\\", "out\\", ".out\\"},
      {"/", "/", "./"},
      {"\\", "\\", ".\\"},
      {".fa", ".fa" + separator, ".fa"},
      {"..", ".." + separator, ".."},
      {"", "", ""},
      {"a.b", "a.b" + separator, ".a.b"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("[") + c.value + "]");
    RunSettings settings;
    settings.input_path = settings.output_path = settings.status_path = settings.duplicates_path =
        c.value;
    settings.output_extension = settings.status_extension = settings.duplicates_extension = c.value;
    normalise_settings(settings);
    EXPECT_EQ(c.directory, settings.input_path);
    EXPECT_EQ(c.directory, settings.output_path);
    EXPECT_EQ(c.directory, settings.status_path);
    EXPECT_EQ(c.directory, settings.duplicates_path);
    EXPECT_EQ(c.extension, settings.output_extension);
    EXPECT_EQ(c.extension, settings.status_extension);
    EXPECT_EQ(c.extension, settings.duplicates_extension);
  }
}

TEST(NormaliseSettingsTest, BuiltInDefaults) {
  RunSettings settings;
  normalise_settings(settings);
  const char s = host::kDirectorySeparator;
  EXPECT_EQ(std::string("protein") + s, settings.input_path);
  EXPECT_EQ(std::string("fasta") + s, settings.output_path);
  EXPECT_EQ(std::string("status") + s, settings.status_path);
  EXPECT_EQ(std::string("dup") + s, settings.duplicates_path);
  EXPECT_EQ(".fas", settings.output_extension);
  EXPECT_EQ("", settings.status_extension);
  EXPECT_EQ(".tsv", settings.duplicates_extension);
  EXPECT_EQ(1, settings.copy_mode);
  EXPECT_EQ(1, settings.status_mode);
  EXPECT_EQ(0, settings.write_mode);
  EXPECT_EQ(-1, settings.ordering);
}

}  // namespace
}  // namespace tarnel
