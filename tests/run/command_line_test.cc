#include "run/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include "base/host.h"
#include "run/run_settings.h"

namespace tarnel {
namespace {

using enum ParseOutcome;
using TextField = std::string RunSettings::*;

struct Parsed {
  ParseOutcome outcome = Failed;
  std::string console;
  RunSettings settings;
};

// Parses the arguments that follow the program path.
Parsed parse(Arguments arguments) {
  arguments.insert(arguments.begin(), "tarnel");
  std::ostringstream out;
  Console console(out);
  Parsed parsed;
  parsed.outcome = parse_command_line(arguments, parsed.settings, console, "tarnel");
  parsed.console = out.str();
  return parsed;
}

std::string usage_text() {
  std::ostringstream out;
  Console console(out);
  print_usage(console, "tarnel");
  return out.str();
}

TEST(IsHelpRequestTest, LooksAtTheFirstTwoCharactersOfTheFirstArgumentOnly) {
  EXPECT_TRUE(is_help_request({"tarnel"}));
  for (const char* first : {"?", "-?", "/?", "-H", "/h", "/H", "-help"}) {
    EXPECT_TRUE(is_help_request({"tarnel", first, "b"})) << first;
  }
  for (const Arguments& arguments :
       {Arguments{"t", "-x"}, {"t", "-"}, {"t", "h"}, {"t", "a", "-h"}, {"t", "a", "/h"}}) {
    EXPECT_FALSE(is_help_request(arguments)) << ::testing::PrintToString(arguments);
  }
  // '/' begins every absolute path on a POSIX host: there only the whole forms ask for help.
  for (const char* first : {"/home/lists.txt", "/hpc/a.txt", "/?x"}) {
    EXPECT_EQ(is_help_request({"tarnel", first, "b"}), host::kWindows) << first;
  }
}

TEST(PrintUsageTest, PrintsTheUsageFileByteForByte) {
  std::ifstream file(TARNEL_USAGE_FILE, std::ios::binary);
  ASSERT_TRUE(file) << TARNEL_USAGE_FILE;
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), usage_text());
}

TEST(PrintBannerTest, ShowsEveryArgumentAsGivenBetweenEmptyLines) {
  std::ostringstream out;
  Console console(out);
  print_banner(console, "tarnel", {"./tarnel", "-r", "0", "", "a b"});
  EXPECT_EQ("\ntarnel v1.10: -r 0  a b\n\n", out.str());
}

TEST(ParseCommandLineTest, EveryValueOptionTakesTheNextArgumentOrSaysItIsMissing) {
  // Letter, message when no value follows, and the field of a text option.
  const std::tuple<char, const char*, TextField> kCases[] = {
      {'c', "Missing copy_mode value", nullptr},
      {'d', "Missing path of protein duplicates", &RunSettings::duplicates_path},
      {'e', "Missing extension of protein duplicate files", &RunSettings::duplicates_extension},
      {'i', "Missing input path", &RunSettings::input_path},
      {'o', "Missing output path", &RunSettings::output_path},
      {'p', "Missing output file extension", &RunSettings::output_extension},
      {'r', "Missing value of ordering", nullptr},
      {'s', "Missing status path", &RunSettings::status_path},
      {'t', "Missing status file extension", &RunSettings::status_extension},
      {'u', "Missing status_mode value", nullptr},
      {'w', "Missing write_mode value", nullptr}};
  for (const auto& [lower, message, field] : kCases) {
    for (const char letter : {lower, static_cast<char>(lower - 'a' + 'A')}) {
      const std::string option{'-', letter};
      SCOPED_TRACE(option);
      const Parsed missing = parse({"a", "b", option});
      EXPECT_EQ(Failed, missing.outcome);
      EXPECT_EQ(std::string(message) + "\n", missing.console);
      if (field == nullptr) continue;
      // A value that looks like an option is still the value: "-i -o" sets input_path to "-o".
      const Parsed given = parse({option, "-o", "a", "b"});
      EXPECT_EQ(Ready, given.outcome);
      EXPECT_EQ("-o", given.settings.*field);
    }
  }
}

TEST(ParseCommandLineTest, SwitchesAreOffOnlyForALeadingZero) {
  const std::pair<const char*, std::int32_t> kCases[] = {{"0", 0}, {"00", 0}, {"0abc", 0},
                                                         {"2", 1}, {"no", 1}, {"", 1}};
  const std::pair<const char*, std::int32_t RunSettings::*> kSwitches[] = {
      {"-c", &RunSettings::copy_mode},
      {"-U", &RunSettings::status_mode},
      {"-w", &RunSettings::write_mode}};
  for (const auto& [value, mode] : kCases) {
    for (const auto& [option, field] : kSwitches) {
      SCOPED_TRACE(std::string(option) + " [" + value + "]");
      const Parsed parsed = parse({option, value, "a", "b"});
      EXPECT_EQ(Ready, parsed.outcome);
      EXPECT_EQ(mode, parsed.settings.*field);
    }
  }
}

TEST(ParseCommandLineTest, OrderingTakesALeadingDecimalInteger) {
  const std::pair<const char*, std::int32_t> kCases[] = {{"2x", 2}, {"+2", 2}, {"-1", -1}};
  for (const auto& [value, ordering] : kCases) {
    EXPECT_EQ(ordering, parse({"-r", value, "a", "b"}).settings.ordering) << value;
  }
}

TEST(ParseCommandLineTest, JobsTakeAWholePositiveNumberUpToTheMost) {
  const std::pair<const char*, std::int32_t> kCases[] = {
      {"1", 1}, {"007", 7}, {"256", 256}, {"257", 256}, {"99999999999999999999", 256}};
  for (const auto& [value, jobs] : kCases) {
    EXPECT_EQ(jobs, parse({"--jobs", value, "a", "b"}).settings.jobs) << value;
  }
}

TEST(ParseCommandLineTest, ReportsWhatItCannotUseAndStopsAtTheFirstFailure) {
  struct Case {
    const char* name;
    Arguments arguments;
    ParseOutcome outcome;
    std::string console;
    const char* all_species = "b";  // when Ready
  };
  const std::string usage = usage_text();
  const Case kCases[] = {
      {"unknown letter, as typed", {"a", "b", "-X", "-i"}, Failed, "Unknown option X\n"},
      {"lone dash: its NUL is the letter", {"a", "-"}, Failed, {"Unknown option \0\n", 17}},
      {"third positional argument", {"a", "b", "c"}, Ready, "Extra argument c ignored\n"},
      {"one positional argument", {"a"}, Failed, "Two lists of species must be specified\n"},
      {"/h after the first argument is a path", {"a", "/h"}, Ready, "", "/h"},
      {"ordering without a number: no message", {"-r", "abc", "a", "b"}, Ready, ""},
      {"h option after the lists, before an error", {"a", "b", "-h", "-x"}, HelpShown, usage},
      {"question mark option", {"a", "-?"}, HelpShown, usage},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Parsed parsed = parse(c.arguments);
    EXPECT_EQ(c.outcome, parsed.outcome);
    EXPECT_EQ(c.console, parsed.console);
    if (c.outcome != Ready) continue;
    EXPECT_EQ("a", parsed.settings.active_species);
    EXPECT_EQ(c.all_species, parsed.settings.all_species);
  }
}

TEST(NormaliseSettingsTest, GivesDirectoriesTheirSeparatorAndExtensionsTheirDot) {
  const std::string sep(1, host::kDirectorySeparator);
  // Value, then what a directory and an extension become.
  const std::tuple<std::string, std::string, std::string> kCases[] = {
      {"out", "out" + sep, ".out"}, {"out/", "out/", ".out/"},
      {"out\\", "out\\", ".out\\"}, {"", "", ""},
      {"fa", "fa" + sep, ".fa"},    {".fa", ".fa" + sep, ".fa"}};
  const TextField kDirectories[] = {&RunSettings::input_path, &RunSettings::output_path,
                                    &RunSettings::status_path, &RunSettings::duplicates_path};
  const TextField kExtensions[] = {&RunSettings::output_extension, &RunSettings::status_extension,
                                   &RunSettings::duplicates_extension};
  for (const auto& [value, directory, extension] : kCases) {
    SCOPED_TRACE("[" + value + "]");
    RunSettings settings;
    for (const TextField field : kDirectories) settings.*field = value;
    for (const TextField field : kExtensions) settings.*field = value;
    normalise_settings(settings);
    for (const TextField field : kDirectories) EXPECT_EQ(directory, settings.*field);
    for (const TextField field : kExtensions) EXPECT_EQ(extension, settings.*field);
  }
}

}  // namespace
}  // namespace tarnel
