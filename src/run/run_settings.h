// The one record of settings of a run: built-in defaults, filled from the command line,
// normalised once, read-only afterwards.
#ifndef TARNEL_RUN_RUN_SETTINGS_H_
#define TARNEL_RUN_RUN_SETTINGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

inline constexpr std::string_view kProgramVersion = "1.10";

/// Built-in defaults. The usage text prints these, never the values of a parsed command line.
namespace defaults {
inline constexpr std::string_view kInputPath = "protein";
inline constexpr std::string_view kOutputPath = "fasta";
inline constexpr std::string_view kOutputExtension = ".fas";
inline constexpr std::string_view kStatusPath = "status";
inline constexpr std::string_view kStatusExtension = "";
inline constexpr std::string_view kDuplicatesPath = "dup";
inline constexpr std::string_view kDuplicatesExtension = ".tsv";
inline constexpr std::int32_t kCopyMode = 1;
inline constexpr std::int32_t kStatusMode = 1;
inline constexpr std::int32_t kWriteMode = 0;
inline constexpr std::int32_t kOrdering = -1;
}  // namespace defaults

/// Values of `ordering` that the usage text names; any other non-zero value orders like
/// kShortestFirst.
namespace ordering {
inline constexpr std::int32_t kUnsorted = 0;
inline constexpr std::int32_t kLongestFirst = -1;
inline constexpr std::int32_t kShortestFirst = 1;
inline constexpr std::int32_t kByIdentifier = 2;
}  // namespace ordering

struct RunSettings {
  std::string active_species;
  std::string all_species;
  std::string input_path{defaults::kInputPath};
  std::string output_path{defaults::kOutputPath};
  std::string output_extension{defaults::kOutputExtension};
  std::string status_path{defaults::kStatusPath};
  std::string status_extension{defaults::kStatusExtension};
  std::string duplicates_path{defaults::kDuplicatesPath};
  std::string duplicates_extension{defaults::kDuplicatesExtension};
  std::int32_t copy_mode = defaults::kCopyMode;
  std::int32_t status_mode = defaults::kStatusMode;
  std::int32_t write_mode = defaults::kWriteMode;
  std::int32_t ordering = defaults::kOrdering;

  // Long options, beyond the single letters: all off unless given.
  bool strict = false;                     // --strict
  bool make_directories = false;           // --mkdir
  bool sync = false;                       // --sync
  std::optional<std::string> report_path;  // --report
  std::vector<std::string> only;           // --only: each name once, in the order given
};

/// Gives every non-empty directory its trailing separator and every non-empty extension its
/// leading '.', so that paths are later built by plain concatenation.
void normalise_settings(RunSettings& settings);

}  // namespace tarnel

#endif  // TARNEL_RUN_RUN_SETTINGS_H_
