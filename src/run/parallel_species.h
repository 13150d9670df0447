// Several species processed at the same time, each on a thread of its own, with the console
// and the files exactly as processing them one after the other gives them.
#ifndef TARNEL_RUN_PARALLEL_SPECIES_H_
#define TARNEL_RUN_PARALLEL_SPECIES_H_

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "run/species_list.h"
#include "species/species_flow.h"

namespace tarnel {

struct ParallelLimits {
  std::int32_t jobs = 1;  // species in flight at once, at most
  std::uint64_t memory_budget = std::numeric_limits<std::uint64_t>::max();  // for their inputs
};

/// Told, on the calling thread and in list order, of each species once its line is printed.
using SpeciesFinished = std::function<void(
    std::int32_t species_index, const SpeciesOutcome& outcome, std::int64_t elapsed_millis)>;

/// Processes the master list's species at `indices` (in list order), up to `limits.jobs` at a
/// time. The console shows what one species after the other shows: the lines in list order,
/// the heading of the first unfinished species as soon as it is the first. Species that touch
/// the same file keep their list order. A species that fails for want of disk space or memory
/// while others were in flight is processed once more, alone, before its line is printed.
/// Returns false, having done nothing, when no thread could be started.
bool process_species_in_parallel(const SpeciesContext& context,
                                 const std::vector<std::int32_t>& indices,
                                 const ActivationMask& mask, const ParallelLimits& limits,
                                 const SpeciesFinished& finished);

}  // namespace tarnel

#endif  // TARNEL_RUN_PARALLEL_SPECIES_H_
