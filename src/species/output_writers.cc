#include "species/output_writers.h"

#include <cstring>

#include "base/text_format.h"

namespace tarnel {

void write_fasta_entry(OutputBuffer& file, const ProteinRecord& protein) {
  // Lines are laid out in place a block at a time rather than appended one by one: at 80 bytes
  // a line, the calls and checks of an append cost as much as the copying.
  constexpr std::size_t kResiduesPerBlock = kResiduesPerLine * 4096;
  std::string& out = file.bytes();
  out.push_back('>');
  out.append(protein.identifier);
  out.push_back('\n');
  const char* residues = protein.sequence.data();
  std::size_t left = protein.sequence.size();
  while (left > 0) {
    // Only the last block of a sequence can end in a short line.
    const std::size_t count = left < kResiduesPerBlock ? left : kResiduesPerBlock;
    const std::size_t full_lines = count / kResiduesPerLine;
    const std::size_t short_line = count % kResiduesPerLine;
    const std::size_t start = out.size();
    out.resize(start + count + full_lines + (short_line > 0 ? 1 : 0));
    char* to = out.data() + start;
    for (std::size_t i = 0; i < full_lines; ++i) {
      std::memcpy(to, residues, kResiduesPerLine);
      to[kResiduesPerLine] = '\n';
      to += kResiduesPerLine + 1;
      residues += kResiduesPerLine;
    }
    if (short_line > 0) {
      std::memcpy(to, residues, short_line);
      to[short_line] = '\n';
      residues += short_line;
    }
    left -= count;
    // A single sequence may be far longer than a block: hand it on as it grows.
    file.pass_full_blocks();
  }
  file.pass_full_blocks();
}

std::string build_status_mask(std::string_view mask, std::int32_t species_index) {
  if (mask[static_cast<std::size_t>(species_index)] == '.') return std::string(mask.size(), '.');
  return std::string(mask);
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
