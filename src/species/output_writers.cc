#include "species/output_writers.h"

#include "run/text_format.h"

namespace tarnel {

void write_fasta_entry(OutputBuffer& file, const ProteinRecord& protein) {
  std::string& out = file.bytes();
  out.push_back('>');
  out.append(protein.identifier);
  out.push_back('\n');
  std::string_view rest = protein.sequence;
  while (!rest.empty()) {
    const std::string_view line = rest.substr(0, kResiduesPerLine);
    out.append(line);
    out.push_back('\n');
    rest.remove_prefix(line.size());
    // A single sequence may be far longer than a block: hand it on as it grows.
    file.pass_full_blocks();
  }
  file.pass_full_blocks();
}

std::string build_status_mask(const ActivationMask& mask, std::int32_t species_index) {
  if (mask[static_cast<std::size_t>(species_index)] == '.') return std::string(mask.size(), '.');
  return mask;
}

void write_status_line(OutputBuffer& file, const ProteinRecord& protein,
                       std::string_view status_mask) {
  std::string& out = file.bytes();
  append_right(out, DecimalText(protein.line).view(), 7);
  out.push_back(' ');
  append_right(out, DecimalText(std::int64_t{protein.ordinal}).view(), 6);
  out.push_back(' ');
  append_right(out, DecimalText(static_cast<std::uint64_t>(protein.sequence.size())).view(), 5);
  out.push_back(' ');
  out.append(status_mask);
  out.push_back('\n');
  file.pass_full_blocks();
}

void write_duplicates_line(OutputBuffer& file, const ProteinRecord& protein,
                           const ProteinSet& proteins) {
  std::string& out = file.bytes();
  out.append(protein.identifier);
  out.push_back('\t');
  out.append(DecimalText(static_cast<std::uint64_t>(protein.copies.size())).view());
  for (const std::int32_t copy : protein.copies) {
    out.push_back('\t');
    out.append(proteins[static_cast<std::size_t>(copy)].identifier);
  }
  out.push_back('\n');
  file.pass_full_blocks();
}

}  // namespace tarnel
