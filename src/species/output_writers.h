// The three per-species output formats, one protein at a time.
#ifndef TARNEL_SPECIES_OUTPUT_WRITERS_H_
#define TARNEL_SPECIES_OUTPUT_WRITERS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "species/output_buffer.h"
#include "species/protein.h"

namespace tarnel {

inline constexpr std::size_t kResiduesPerLine = 80;

/// ">" and the identifier, then the sequence in lines of 80 residues; no empty line.
void write_fasta_entry(OutputBuffer& file, const ProteinRecord& protein);

/// All '.' for an active species; otherwise the activation mask itself ('.' for each active
/// species of the full list, a blank for every other).
std::string build_status_mask(std::string_view mask, std::int32_t species_index);

/// Header line number (7 columns), ordinal (6), sequence length (5), then the status mask.
void write_status_line(OutputBuffer& file, const ProteinRecord& protein,
                       std::string_view status_mask);

/// The identifier, the number of copies and each copy's identifier, separated by tabs.
void write_duplicates_line(OutputBuffer& file, const ProteinRecord& protein,
                           const ProteinSet& proteins);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_OUTPUT_WRITERS_H_
