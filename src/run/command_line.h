// The command line: program name, help test, banner, usage text and option parsing.
#ifndef TARNEL_RUN_COMMAND_LINE_H_
#define TARNEL_RUN_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "run/run_settings.h"

namespace tarnel {

/// The arguments as the process received them; element 0 is the path the tool was started by.
using Arguments = std::vector<std::string>;

enum class ParseOutcome { Ready, HelpShown, Failed };

/// The tool's name as the banner and usage text show it: the start path without its
/// directories and without its last extension.
std::string derive_program_name(std::string_view start_path);

/// True when the command line asks for help before anything is parsed: no argument, or a
/// first argument such as ?, -h or /? (only the first two characters are looked at; on a POSIX
/// host a '/' form must be whole, since '/' begins every absolute path there).
bool is_help_request(const Arguments& arguments);

void print_usage(Console& console, std::string_view program_name);

/// The usage text followed by the long options.
void print_long_help(Console& console, std::string_view program_name);

/// "tarnel 1.10": the program name and its version.
void print_version(Console& console, std::string_view program_name);

/// Answers a first argument of exactly --help or --version before anything else is printed, as
/// the help test does; true when it did.
bool answer_first_long_request(const Arguments& arguments, Console& console,
                               std::string_view program_name);

/// The program name and every argument as given, between two empty lines.
void print_banner(Console& console, std::string_view program_name, const Arguments& arguments);

/// Fills `settings` from the options and the two list paths. Messages go to the console.
ParseOutcome parse_command_line(const Arguments& arguments, RunSettings& settings, Console& console,
                                std::string_view program_name);

}  // namespace tarnel

#endif  // TARNEL_RUN_COMMAND_LINE_H_
