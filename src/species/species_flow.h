// Everything done for one species, from its FASTA file to its output files and console line.
#ifndef TARNEL_SPECIES_SPECIES_FLOW_H_
#define TARNEL_SPECIES_SPECIES_FLOW_H_

#include <cstdint>
#include <optional>
#include <string>

#include "run/clock.h"
#include "run/console.h"
#include "run/file_system.h"
#include "run/run_settings.h"
#include "run/species_list.h"
#include "species/copy_elimination.h"

namespace tarnel {

/// What every species of a run shares; it does not change while species are processed.
struct SpeciesContext {
  const RunSettings& settings;
  const SpeciesList& master;
  Console& console;
  FileSystem& files;
  Clock& clock;
};

/// What became of one species, as the run report tells it.
struct SpeciesOutcome {
  bool ok = false;
  std::string fasta_path;  // the input file's path as opened
  std::string message;     // the message that ended a failed species' console line
  std::string reason;      // the system's error text behind a failure; empty when none
  std::optional<CopyStatistics> statistics;  // when copies were looked for
  std::optional<std::int64_t> written;       // proteins written to the output FASTA file
  std::optional<std::int64_t> end_clock;     // the clock reading the console line shows
  std::uint64_t bytes_read = 0;              // as stored: a compressed file's compressed bytes
};

/// Processes the master list's species at `species_index`. A species that failed was
/// abandoned: its message has ended its console line, and files from earlier runs are left
/// exactly as they were. Running out of memory fails the species alone.
SpeciesOutcome process_species(const SpeciesContext& context, std::int32_t species_index,
                               const ActivationMask& mask, std::int64_t species_start_clock);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_SPECIES_FLOW_H_
