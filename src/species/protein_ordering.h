// Puts the proteins of a species into the order they are written in, and keeps the copies
// lists pointing at the right records.
#ifndef TARNEL_SPECIES_PROTEIN_ORDERING_H_
#define TARNEL_SPECIES_PROTEIN_ORDERING_H_

#include <cstdint>
#include <vector>

#include "species/protein.h"

namespace tarnel {

/// Values of `ordering` that the usage text names; any other non-zero value orders like
/// kShortestFirst.
namespace ordering {
inline constexpr std::int32_t kUnsorted = 0;
inline constexpr std::int32_t kLongestFirst = -1;
inline constexpr std::int32_t kShortestFirst = 1;
inline constexpr std::int32_t kByIdentifier = 2;
}  // namespace ordering

/// True when `a` is written before `b`. With `ordering` 2: by identifier. Otherwise by sequence
/// length (longest first for -1, shortest first for any other value), then by sequence bytes,
/// then by identifier. Texts compare as unsigned bytes, a prefix first.
bool compare_proteins(const ProteinRecord& a, const ProteinRecord& b, std::int32_t ordering);

/// The positions of the records in the order they are written (not stable): the i-th record
/// written is proteins[result[i]]. The set itself is left as it is, so its copies lists stay
/// valid: a large species is written without moving its records, each move a wait for memory.
/// Expects the records in input order (position equal to ordinal).
std::vector<std::int32_t> written_order(const ProteinSet& proteins, std::int32_t ordering);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_PROTEIN_ORDERING_H_
