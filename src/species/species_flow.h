// Everything done for one species, from its FASTA file to its output files and console line.
#ifndef TARNEL_SPECIES_SPECIES_FLOW_H_
#define TARNEL_SPECIES_SPECIES_FLOW_H_

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/file_system.h"
#include "species/copy_elimination.h"
#include "species/species_settings.h"

namespace tarnel {

/// What every species of a run shares; it does not change while species are processed.
struct SpeciesContext {
  const SpeciesSettings& settings;
  // The full list: species are known by their index in it.
  const std::vector<std::string>& names;
  const std::vector<std::string>& file_names;
  Console& console;
  FileSystem& files;
  Clock& clock;
  /// When species run side by side: how many of the run's species threads wait for work. A
  /// helper thread of a species' own only pays while one of them does; with every processor
  /// at another species, it only takes turns with them. Null when species run one at a time.
  const std::atomic<std::int32_t>* idle_threads = nullptr;
};

/// What became of one species, as the run report tells it.
struct SpeciesOutcome {
  bool ok = false;
  std::string fasta_path;  // the input file's path as opened
  std::string message;     // the message that ended a failed species' console line
  std::string reason;      // the system's error text behind a failure; empty when none
  int error = 0;           // the system's error code behind a failure; 0 when none
  std::optional<CopyStatistics> statistics;  // when copies were looked for
  std::optional<std::int64_t> written;       // proteins written to the output FASTA file
  std::optional<std::int64_t> end_clock;     // the clock reading the console line shows
  std::uint64_t bytes_read = 0;              // as stored: a compressed file's compressed bytes
};

/// The output files a species writes with these settings, in the order they are published.
std::vector<std::string> output_paths(const SpeciesSettings& settings,
                                      std::string_view species_name);

/// What begins a species' console line: its name and "...", in 36 columns.
std::string species_heading(std::string_view name);

/// Processes the master list's species at `species_index`. A species that failed was
/// abandoned: its message has ended its console line, and files from earlier runs are left
/// exactly as they were. Running out of memory fails the species alone.
SpeciesOutcome process_species(const SpeciesContext& context, std::int32_t species_index,
                               const std::string& mask, std::int64_t species_start_clock);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_SPECIES_FLOW_H_
