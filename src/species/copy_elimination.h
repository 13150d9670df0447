// Finds the proteins whose sequence is an exact copy of an earlier protein's sequence.
#ifndef TARNEL_SPECIES_COPY_ELIMINATION_H_
#define TARNEL_SPECIES_COPY_ELIMINATION_H_

#include <cstdint>

#include "base/console.h"
#include "species/protein.h"

namespace tarnel {

struct CopyStatistics {
  std::uint64_t proteins = 0;    // "p": every record, copies included
  std::int32_t copy_count = 0;   // "dup": records marked as copies
  std::int32_t max_copies = 0;   // "max": the longest copies list
  std::int32_t group_count = 0;  // "grp": records that have at least one copy
};

/// Marks every later occurrence of a sequence as a copy and lists the copies' positions, in
/// input order, on the first occurrence. Expects the records in input order, unmarked.
CopyStatistics find_copies(ProteinSet& proteins);

/// Appends the statistics to the species' console line (no line end).
void print_copy_statistics(Console& console, const CopyStatistics& statistics);

/// Both of the above: what a species with copy elimination on does.
CopyStatistics eliminate_copies(ProteinSet& proteins, Console& console);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_COPY_ELIMINATION_H_
