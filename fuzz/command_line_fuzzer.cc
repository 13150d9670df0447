// Argument vectors from arbitrary bytes (NUL-separated, the first one the program path). Each is
// parsed directly and compared with a model of the option rules, then run whole against a small
// collection in memory: the run must answer with a banner, messages that end their lines and a
// known exit code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "base/clock.h"
#include "run/command_line.h"
#include "base/console.h"
#include "run/driver.h"
#include "run/run_settings.h"

namespace tarnel::fuzz {
namespace {

struct ModelParse {
  ParseOutcome outcome = ParseOutcome::Ready;
  RunSettings settings;
  std::string console;
};

std::int32_t model_integer(const std::string& value) {
  const long long parsed = std::strtoll(value.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long long>(
      parsed, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

ModelParse model_parse(const Arguments& arguments, std::string_view usage_text) {
  ModelParse model;
  RunSettings& s = model.settings;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.empty() || argument[0] != '-') {
      std::string& slot = s.active_species.empty() ? s.active_species : s.all_species;
      if (s.active_species.empty() || s.all_species.empty()) {
        slot = argument;
      } else {
        model.console += "Extra argument " + argument + " ignored\n";
      }
      continue;
    }
    char letter = argument.size() > 1 ? argument[1] : '\0';
    const char lower = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter + 32) : letter;
    if (lower == 'h' || lower == '?') {
      model.console += usage_text;
      model.outcome = ParseOutcome::HelpShown;
      return model;
    }
    static constexpr std::string_view kLetters = "cdeioprstuw";
    static constexpr std::string_view kMissing[] = {"Missing copy_mode value",
                                                    "Missing path of protein duplicates",
                                                    "Missing extension of protein duplicate files",
                                                    "Missing input path",
                                                    "Missing output path",
                                                    "Missing output file extension",
                                                    "Missing value of ordering",
                                                    "Missing status path",
                                                    "Missing status file extension",
                                                    "Missing status_mode value",
                                                    "Missing write_mode value"};
    const std::size_t which = kLetters.find(lower);
    if (which == std::string_view::npos) {
      model.console += "Unknown option ";
      model.console.push_back(letter);
      model.console += '\n';
      model.outcome = ParseOutcome::Failed;
      return model;
    }
    if (i + 1 == arguments.size()) {
      model.console += std::string(kMissing[which]) + "\n";
      model.outcome = ParseOutcome::Failed;
      return model;
    }
    const std::string& value = arguments[++i];
    const std::int32_t switch_value = (!value.empty() && value[0] == '0') ? 0 : 1;
    switch (lower) {
      case 'c':
        s.copy_mode = switch_value;
        break;
      case 'u':
        s.status_mode = switch_value;
        break;
      case 'w':
        s.write_mode = switch_value;
        break;
      case 'r':
        s.ordering = model_integer(value);
        break;
      case 'd':
        s.duplicates_path = value;
        break;
      case 'e':
        s.duplicates_extension = value;
        break;
      case 'i':
        s.input_path = value;
        break;
      case 'o':
        s.output_path = value;
        break;
      case 'p':
        s.output_extension = value;
        break;
      case 's':
        s.status_path = value;
        break;
      case 't':
        s.status_extension = value;
        break;
    }
  }
  if (s.active_species.empty() || s.all_species.empty()) {
    model.console += "Two lists of species must be specified\n";
    model.outcome = ParseOutcome::Failed;
  }
  return model;
}

bool same_settings(const RunSettings& a, const RunSettings& b) {
  return a.active_species == b.active_species && a.all_species == b.all_species &&
         a.input_path == b.input_path && a.output_path == b.output_path &&
         a.output_extension == b.output_extension && a.status_path == b.status_path &&
         a.status_extension == b.status_extension && a.duplicates_path == b.duplicates_path &&
         a.duplicates_extension == b.duplicates_extension && a.copy_mode == b.copy_mode &&
         a.status_mode == b.status_mode && a.write_mode == b.write_mode && a.ordering == b.ordering;
}

bool is_directory_text(const std::string& text) {
  return text.empty() || text.back() == '/' || text.back() == '\\';
}

bool is_extension_text(const std::string& text) { return text.empty() || text.front() == '.'; }

class ZeroClock final : public Clock {
 public:
  std::int64_t now_millis() override { return 0; }
};

int fuzz_one(const std::uint8_t* data, std::size_t size) {
  Arguments arguments;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (std::size_t begin = 0; begin <= bytes.size();) {
    const std::size_t nul = std::min(bytes.find('\0', begin), bytes.size());
    arguments.emplace_back(bytes.substr(begin, nul - begin));
    begin = nul + 1;
  }

  // The model knows the single-letter options; the long ones have their own table of tests.
  if (std::any_of(arguments.begin() + 1, arguments.end(),
                  [](const std::string& a) { return a.rfind("--", 0) == 0; })) {
    return 0;
  }
  const std::string program_name = derive_program_name(arguments[0]);
  TARNEL_FUZZ_CHECK(program_name.find_first_of("/\\") == std::string::npos);
  TARNEL_FUZZ_CHECK(arguments[0].find(program_name) != std::string::npos);

  std::ostringstream usage_text;
  {
    Console usage_console(usage_text);
    print_usage(usage_console, program_name);
  }
  std::string banner = "\n" + program_name + " v" + std::string(kProgramVersion) + ":";
  for (std::size_t i = 1; i < arguments.size(); ++i) banner += " " + arguments[i];
  banner += "\n\n";

  MapFileSystem files;
  const std::string list = "species_name\tFASTA_file_name\nsp\tx.fa\n";
  files.files["act"] = list;
  files.files["all"] = list;
  files.files["protein/x.fa"] = ">P1 one\nMKV\n>P2\nMKV\n>P3\nMK\n";
  std::ostringstream out;
  std::ostringstream errors;
  ZeroClock clock;
  const int code = run(arguments, out, errors, clock, files);
  const std::string console = out.str();
  TARNEL_FUZZ_CHECK(code >= 0 && code <= 4);
  TARNEL_FUZZ_CHECK(!console.empty() && console.back() == '\n');

  if (is_help_request(arguments)) {
    TARNEL_FUZZ_CHECK(code == 0 && console == usage_text.str());
    return 0;
  }
  TARNEL_FUZZ_CHECK(console.compare(0, banner.size(), banner) == 0);
  const std::string after_banner = console.substr(banner.size());

  RunSettings settings;
  std::ostringstream parse_text;
  Console parse_console(parse_text);
  const ParseOutcome outcome = parse_command_line(arguments, settings, parse_console, program_name);
  const ModelParse model = model_parse(arguments, usage_text.str());
  TARNEL_FUZZ_CHECK(outcome == model.outcome);
  const std::string messages = parse_text.str();
  TARNEL_FUZZ_CHECK(messages == model.console);
  TARNEL_FUZZ_CHECK(after_banner.compare(0, messages.size(), messages) == 0);
  if (outcome != ParseOutcome::Ready) {
    TARNEL_FUZZ_CHECK(code == (outcome == ParseOutcome::Failed ? 1 : 0));
    TARNEL_FUZZ_CHECK(after_banner == messages);
    return 0;
  }
  TARNEL_FUZZ_CHECK(code != 1);
  TARNEL_FUZZ_CHECK(same_settings(settings, model.settings));
  TARNEL_FUZZ_CHECK(settings.copy_mode == 0 || settings.copy_mode == 1);
  TARNEL_FUZZ_CHECK(settings.status_mode == 0 || settings.status_mode == 1);
  TARNEL_FUZZ_CHECK(settings.write_mode == 0 || settings.write_mode == 1);

  normalise_settings(settings);
  for (const std::string* directory : {&settings.input_path, &settings.output_path,
                                       &settings.status_path, &settings.duplicates_path}) {
    TARNEL_FUZZ_CHECK(is_directory_text(*directory));
  }
  for (const std::string* extension :
       {&settings.output_extension, &settings.status_extension, &settings.duplicates_extension}) {
    TARNEL_FUZZ_CHECK(is_extension_text(*extension));
  }
  // Normalising twice changes nothing more.
  RunSettings again = settings;
  normalise_settings(again);
  TARNEL_FUZZ_CHECK(same_settings(again, settings));
  return 0;
}

}  // namespace
}  // namespace tarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tarnel::fuzz::fuzz_one(data, size);
}
