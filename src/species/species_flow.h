// Everything done for one species, from its FASTA file to its output files and console line.
#ifndef TARNEL_SPECIES_SPECIES_FLOW_H_
#define TARNEL_SPECIES_SPECIES_FLOW_H_

#include <cstdint>

#include "run/clock.h"
#include "run/console.h"
#include "run/file_system.h"
#include "run/run_settings.h"
#include "run/species_list.h"

namespace tarnel {

/// What every species of a run shares; it does not change while species are processed.
struct SpeciesContext {
  const RunSettings& settings;
  const SpeciesList& master;
  Console& console;
  FileSystem& files;
  Clock& clock;
};

/// Processes the master list's species at `species_index`. Returns false when the species was
/// abandoned; its message has then ended its console line, and files from earlier runs are
/// left exactly as they were.
bool process_species(const SpeciesContext& context, std::int32_t species_index,
                     const ActivationMask& mask, std::int64_t species_start_clock);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_SPECIES_FLOW_H_
