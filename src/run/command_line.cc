#include "run/command_line.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "base/host.h"

namespace tarnel {
namespace {

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// 1 unless the value starts with '0': "00" and "0abc" switch off, "no" and "" switch on.
std::int32_t switch_value(const std::string& value) {
  return (!value.empty() && value.front() == '0') ? 0 : 1;
}

// A leading decimal integer after optional white space and sign; the rest is ignored. A value
// without digits gives 0 and one beyond 32 bits is clamped, as the C library's conversions do.
std::int32_t leading_integer(const std::string& value) {
  std::size_t i = 0;
  while (i < value.size() && is_c_space(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (value[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  const std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(signed_value);
}

struct ValueOption {
  char letter;
  std::string_view missing_message;
  std::string RunSettings::*text_field;
  std::int32_t RunSettings::*number_field;
  bool is_switch;
};

constexpr ValueOption kValueOptions[] = {
    {'c', "Missing copy_mode value", nullptr, &RunSettings::copy_mode, true},
    {'d', "Missing path of protein duplicates", &RunSettings::duplicates_path, nullptr, false},
    {'e', "Missing extension of protein duplicate files", &RunSettings::duplicates_extension,
     nullptr, false},
    {'i', "Missing input path", &RunSettings::input_path, nullptr, false},
    {'o', "Missing output path", &RunSettings::output_path, nullptr, false},
    {'p', "Missing output file extension", &RunSettings::output_extension, nullptr, false},
    {'r', "Missing value of ordering", nullptr, &RunSettings::ordering, false},
    {'s', "Missing status path", &RunSettings::status_path, nullptr, false},
    {'t', "Missing status file extension", &RunSettings::status_extension, nullptr, false},
    {'u', "Missing status_mode value", nullptr, &RunSettings::status_mode, true},
    {'w', "Missing write_mode value", nullptr, &RunSettings::write_mode, true},
};

const ValueOption* find_value_option(char letter) {
  for (const ValueOption& option : kValueOptions) {
    if (option.letter == letter) return &option;
  }
  return nullptr;
}

void apply_value(const ValueOption& option, const std::string& value, RunSettings& settings) {
  if (option.text_field != nullptr) {
    settings.*option.text_field = value;
  } else if (option.is_switch) {
    settings.*option.number_field = switch_value(value);
  } else {
    settings.*option.number_field = leading_integer(value);
  }
}

// Long options live in the one namespace the single letters never used: arguments that begin
// with "--". Names match whole and exactly, so no command line that worked before changes.
enum class LongKind { kHelp, kVersion, kSwitch, kReport, kOnly, kJobs };

struct LongOption {
  std::string_view name;
  LongKind kind;
  std::string_view missing_message;  // empty for an option that takes no value
  bool RunSettings::*on = nullptr;   // what a switch turns on
};

constexpr LongOption kLongOptions[] = {
    {"help", LongKind::kHelp, ""},
    {"version", LongKind::kVersion, ""},
    {"strict", LongKind::kSwitch, "", &RunSettings::strict},
    {"mkdir", LongKind::kSwitch, "", &RunSettings::make_directories},
    {"sync", LongKind::kSwitch, "", &RunSettings::sync},
    {"report", LongKind::kReport, "Missing report file path"},
    {"only", LongKind::kOnly, "Missing species name"},
    {"jobs", LongKind::kJobs, "Missing number of jobs"},
};

const LongOption* find_long_option(std::string_view name) {
  for (const LongOption& option : kLongOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

// A whole positive decimal number, nothing before or after it; a count beyond any the run could
// use is taken as the largest it can.
std::optional<std::int32_t> job_count(const std::string& value) {
  if (value.empty()) return std::nullopt;
  std::int64_t count = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    count = std::min<std::int64_t>(count * 10 + (c - '0'), kMostJobs);
  }
  if (count == 0) return std::nullopt;
  return static_cast<std::int32_t>(count);
}

// False when the value is not one the option takes; its message is then printed.
bool apply_long_value(LongKind kind, const std::string& value, RunSettings& settings,
                      Console& console) {
  switch (kind) {
    case LongKind::kReport:
      settings.report_path = value;
      break;
    case LongKind::kOnly:
      if (std::find(settings.only.begin(), settings.only.end(), value) == settings.only.end()) {
        settings.only.push_back(value);
      }
      break;
    case LongKind::kJobs:
      settings.jobs = job_count(value);
      if (!settings.jobs) {
        console << "Bad number of jobs " << value;
        console.end_line();
        return false;
      }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

std::string derive_program_name(std::string_view start_path) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < start_path.size(); ++i) {
    if (host::ends_program_directory(start_path[i])) begin = i + 1;
  }
  std::string_view name = start_path.substr(begin);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

bool is_help_request(const Arguments& arguments) {
  if (arguments.size() < 2) return true;
  const std::string& first = arguments[1];
  if (!first.empty() && first[0] == '?') return true;
  if (first.size() >= 2 && (first[0] == '-' || first[0] == '/')) {
    // On a POSIX host '/' begins every absolute path: there only "/?", "/h" and "/H" whole
    // ask for help, or "/home/me/lists.txt" would silently do nothing.
    if (first[0] == '/' && !host::kWindows && first.size() != 2) return false;
    const char second = first[1];
    return second == '?' || second == 'H' || second == 'h';
  }
  return false;
}

void print_usage(Console& console, std::string_view program_name) {
  console.end_line();
  console << "Usage (v" << kProgramVersion << "): " << program_name
          << " [options] active_species all_species";
  console.end_line();
  console.end_line();
  console << "Options (case insensitive):";
  console.end_line();
  console << "-c {0|1}  : 1=eliminate protein copies, 0=no [" << std::int64_t{defaults::kCopyMode}
          << "]";
  console.end_line();
  console << "-d string : directory for protein duplicate files [" << defaults::kDuplicatesPath
          << "]";
  console.end_line();
  console << "-e string : extension of protein duplicate files [" << defaults::kDuplicatesExtension
          << "]";
  console.end_line();
  console << "-h -?     : show this help information";
  console.end_line();
  console << "-i string : directory of input FASTA files [" << defaults::kInputPath << "]";
  console.end_line();
  console << "-o string : directory for output FASTA files [" << defaults::kOutputPath << "]";
  console.end_line();
  console << "-p string : extension of output files [" << defaults::kOutputExtension << "]";
  console.end_line();
  console << "-r number : -1=size> 1=size< 2=lexico 0=unsorted ["
          << std::int64_t{defaults::kOrdering} << "]";
  console.end_line();
  console << "-s string : directory for status files [" << defaults::kStatusPath << "]";
  console.end_line();
  console << "-t string : extension of status files [" << defaults::kStatusExtension << "]";
  console.end_line();
  console << "-u {0|1}  : 1=update status files, 0=no [" << std::int64_t{defaults::kStatusMode}
          << "]";
  console.end_line();
  console << "-w {0|1}  : 1=write output FASTA, 0=no [" << std::int64_t{defaults::kWriteMode}
          << "]";
  console.end_line();
  console.end_line();
  console << "active_species: list of new or modified species";
  console.end_line();
  console << "all_species: full list of species in process";
  console.end_line();
  console << "line of species list: species_name\\tFASTA_file_name\\t...";
  console.end_line();
  console.end_line();
  console << "Example: " << program_name << " -w 1 -r 0 species.txt species.txt";
  console.end_line();
  console.end_line();
}

void print_long_help(Console& console, std::string_view program_name) {
  print_usage(console, program_name);
  constexpr std::string_view kLines[] = {
      "Long options (exact names; a value follows as the next argument or after '='):",
      "--help        : show this help information with the long options",
      "--version     : show the program name and version",
      "--strict      : exit code 5 when any species failed",
      "--report file : write a tab-separated report of every species processed",
      "--only name   : process only this species of the full list (may be repeated)",
      "--mkdir       : create missing output directories",
      "--sync        : flush every output file to the disk before it is published",
      "--jobs n      : process up to n species at the same time [processors available]",
  };
  for (std::string_view line : kLines) {
    console << line;
    console.end_line();
  }
  console.end_line();
}

void print_version(Console& console, std::string_view program_name) {
  console << program_name << ' ' << kProgramVersion;
  console.end_line();
}

bool answer_first_long_request(const Arguments& arguments, Console& console,
                               std::string_view program_name) {
  if (arguments.size() < 2) return false;
  if (arguments[1] == "--help") {
    print_long_help(console, program_name);
    return true;
  }
  if (arguments[1] == "--version") {
    print_version(console, program_name);
    return true;
  }
  return false;
}

void print_banner(Console& console, std::string_view program_name, const Arguments& arguments) {
  console.end_line();
  console << program_name << " v" << kProgramVersion << ":";
  for (std::size_t i = 1; i < arguments.size(); ++i) console << ' ' << arguments[i];
  console.end_line();
  console.end_line();
}

ParseOutcome parse_command_line(const Arguments& arguments, RunSettings& settings, Console& console,
                                std::string_view program_name) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() >= 2 && argument[0] == '-' && argument[1] == '-') {
      const std::size_t equals = argument.find('=');
      const LongOption* option = find_long_option(
          std::string_view(argument).substr(2, equals == std::string::npos ? equals : equals - 2));
      const bool takes_value = option != nullptr && !option->missing_message.empty();
      if (option == nullptr || (!takes_value && equals != std::string::npos)) {
        console << "Unknown option -";
        console.end_line();
        return ParseOutcome::Failed;
      }
      if (option->kind == LongKind::kHelp) {
        print_long_help(console, program_name);
        return ParseOutcome::HelpShown;
      }
      if (option->kind == LongKind::kVersion) {
        print_version(console, program_name);
        return ParseOutcome::HelpShown;
      }
      if (option->kind == LongKind::kSwitch) settings.*option->on = true;
      if (!takes_value) continue;
      if (equals != std::string::npos || i + 1 < arguments.size()) {
        const std::string value =
            equals != std::string::npos ? argument.substr(equals + 1) : arguments[++i];
        if (!apply_long_value(option->kind, value, settings, console)) return ParseOutcome::Failed;
      } else {
        console << option->missing_message;
        console.end_line();
        return ParseOutcome::Failed;
      }
    } else if (!argument.empty() && argument[0] == '-') {
      // A lone dash has no letter: the string's terminating NUL is what gets reported.
      const char letter = argument.size() > 1 ? argument[1] : '\0';
      const char key = lower_ascii(letter);
      if (key == 'h' || key == '?') {
        print_usage(console, program_name);
        return ParseOutcome::HelpShown;
      }
      const ValueOption* option = find_value_option(key);
      if (option == nullptr) {
        console << "Unknown option " << letter;
        console.end_line();
        return ParseOutcome::Failed;
      }
      if (i + 1 >= arguments.size()) {
        console << option->missing_message;
        console.end_line();
        return ParseOutcome::Failed;
      }
      apply_value(*option, arguments[++i], settings);
    } else if (settings.active_species.empty()) {
      settings.active_species = argument;
    } else if (settings.all_species.empty()) {
      settings.all_species = argument;
    } else {
      console << "Extra argument " << argument << " ignored";
      console.end_line();
    }
  }
  if (settings.active_species.empty() || settings.all_species.empty()) {
    console << "Two lists of species must be specified";
    console.end_line();
    return ParseOutcome::Failed;
  }
  return ParseOutcome::Ready;
}

}  // namespace tarnel
