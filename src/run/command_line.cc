#include "run/command_line.h"

#include <cstdint>
#include <limits>

#include "run/host.h"

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
    if (!argument.empty() && argument[0] == '-') {
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
