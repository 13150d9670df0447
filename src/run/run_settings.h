// The one record of settings of a run: built-in defaults, filled from the command line,
// normalised once, read-only afterwards.
#ifndef TARNEL_RUN_RUN_SETTINGS_H_
#define TARNEL_RUN_RUN_SETTINGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "species/protein_ordering.h"
#include "species/species_settings.h"

namespace tarnel {

inline constexpr std::string_view kProgramVersion = "1.10";

/// The most species processed at the same time, whatever --jobs asks for: every one in flight
/// holds a few of the slots the interrupt handler removes temporaries from.
inline constexpr std::int32_t kMostJobs = 256;

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

/// The directories, extensions and modes are what each species reads (SpeciesSettings); the
/// rest is the run's own.
struct RunSettings : SpeciesSettings {
  RunSettings()
      : SpeciesSettings{std::string(defaults::kInputPath),
                        std::string(defaults::kOutputPath),
                        std::string(defaults::kOutputExtension),
                        std::string(defaults::kStatusPath),
                        std::string(defaults::kStatusExtension),
                        std::string(defaults::kDuplicatesPath),
                        std::string(defaults::kDuplicatesExtension),
                        defaults::kCopyMode,
                        defaults::kStatusMode,
                        defaults::kWriteMode,
                        defaults::kOrdering} {}

  std::string active_species;
  std::string all_species;

  // Long options, beyond the single letters: all off unless given.
  bool strict = false;                     // --strict
  bool make_directories = false;           // --mkdir
  bool sync = false;                       // --sync
  std::optional<std::string> report_path;  // --report
  std::vector<std::string> only;           // --only: each name once, in the order given
  std::optional<std::int32_t> jobs;        // --jobs, 1 to kMostJobs; unset: the processors
};

/// Gives every non-empty directory its trailing separator and every non-empty extension its
/// leading '.', so that paths are later built by plain concatenation.
void normalise_settings(RunSettings& settings);

}  // namespace tarnel

#endif  // TARNEL_RUN_RUN_SETTINGS_H_
