// Argument vectors from arbitrary bytes (separated by NUL or LF, the first one the program path),
// run whole against a small collection in memory. Whatever the arguments, the run prints whole
// lines and an exit code that agrees with the parse; a failed parse ends in exactly one known
// message after any warnings, and an accepted one yields settings that hold their invariants.
#include "fuzz/fuzz_support.h"
#include "run/command_line.h"
#include "run/driver.h"

namespace tarnel::fuzz {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Arguments arguments{""};
  for (const char c : std::string_view(reinterpret_cast<const char*>(data), size))
    c == '\0' || c == '\n' ? void(arguments.emplace_back()) : arguments.back().push_back(c);
  testing::MemoryFileSystem files;
  files.files["act"] = files.files["all"] = "species_name\tFASTA_file_name\nsp\tx.fa\n";
  files.files["protein/x.fa"] = ">P1 one\nMKV\n>P2\nMKV\n>P3\nMK\n";
  std::ostringstream out, errors, text;
  ZeroClock clock;
  const int code = run(arguments, out, errors, clock, files);
  RunSettings settings;
  Console console(text);
  const ParseOutcome outcome =
      is_help_request(arguments)
          ? ParseOutcome::HelpShown
          : parse_command_line(arguments, settings, console, derive_program_name(arguments[0]));
  TARNEL_FUZZ_CHECK(errors.str().empty() && out.str().ends_with('\n'));
  TARNEL_FUZZ_CHECK(code >= 0 && code <= 6 && (code == 1) == (outcome == ParseOutcome::Failed) &&
                    (code == 0 || outcome != ParseOutcome::HelpShown));
  if (outcome == ParseOutcome::HelpShown) return 0;

  // Warnings of extra arguments, then the one message that ends a failed parse.
  std::istringstream lines(text.str());
  std::string line;
  while (std::getline(lines, line) && line.starts_with("Extra argument ") &&
         line.ends_with(" ignored")) {
  }
  const bool known = line == "Two lists of species must be specified" ||
                     line.starts_with("Missing ") || line.starts_with("Bad number of jobs ") ||
                     (line.starts_with("Unknown option ") && line.size() == 16);
  TARNEL_FUZZ_CHECK(outcome == ParseOutcome::Failed ? known && lines.peek() == EOF : lines.eof());
  // An accepted command line names two lists, and its switches are 0 or 1.
  TARNEL_FUZZ_CHECK(outcome == ParseOutcome::Failed ||
                    (!settings.active_species.empty() && !settings.all_species.empty() &&
                     (settings.copy_mode | settings.status_mode | settings.write_mode) >> 1 == 0 &&
                     settings.jobs.value_or(1) >= 1 && settings.jobs.value_or(1) <= kMostJobs));
  return 0;
}

}  // namespace tarnel::fuzz
