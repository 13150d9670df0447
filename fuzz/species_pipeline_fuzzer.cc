// One species from arbitrary FASTA bytes to its output files, in memory. Whatever the bytes, what
// the species prints and writes must not depend on the blocks its file arrives in, and every
// protein read must be written once, wrapped at 80 columns and in the order asked for, or be
// listed as a copy of a written protein with the same sequence; where reading fails, it fails at
// the first line out of place.
//
// Input: byte 0 picks the copy mode and the ordering; the rest is as file_bytes reads it.
#include <map>
#include <set>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "species/fasta_reader.h"
#include "species/protein_ordering.h"
#include "species/species_flow.h"

namespace tarnel::fuzz {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  testing::MemoryFileSystem files;
  const std::string fasta = files.files["in.fa"] = file_bytes(data + 1, size - 1, 'M', files);
  const SpeciesSettings settings{
      "", "", ".fas", "", ".st", "", ".dup", data[0] & 1, 1, 1, data[0] / 2 % 5 - 2};
  ZeroClock clock;
  const std::vector<std::string> names{"sp"}, file_names{"in.fa"};
  // What the species leaves: its files and, under "", its console line.
  const auto run_species = [&](testing::MemoryFileSystem left) {
    std::ostringstream text;
    Console console(text);
    process_species({settings, names, file_names, console, left, clock}, 0, ".", 0);
    left.files[""] = text.str();
    return left.files;
  };
  const auto species = run_species(files);
  files.block_bytes = 1 << 20;
  TARNEL_FUZZ_CHECK(species == run_species(files));
  std::ostringstream ignored;
  Console console(ignored);
  ProteinSet read;
  const bool ok = read_fasta(files, console, "", "in.fa", read);
  TARNEL_FUZZ_CHECK(species.size() == (ok ? 4u + settings.copy_mode : 2u));
  // Reading stops at the first line out of place: the file cut before the line a failure names
  // reads. (Compressed files number the lines of their text.)
  if (!ok && !fasta.starts_with("\x1f\x8b")) {
    std::size_t cut = 0;
    for (auto n = std::stoul(species.at("").substr(species.at("").rfind(' '))); n > 1; --n)
      cut = fasta.find('\n', cut) + 1;
    files.files["in.fa"] = fasta.substr(0, cut);
    ProteinSet before;
    TARNEL_FUZZ_CHECK(read_fasta(files, console, "", "in.fa", before));
  }
  // Proteins are told apart by their identifiers, where those are unique.
  std::map<std::string_view, const ProteinRecord*> by_identifier;
  for (const ProteinRecord& protein : read.records) by_identifier[protein.identifier] = &protein;
  if (!ok || by_identifier.size() < read.size()) return 0;

  std::vector<bool> accounted(read.size());
  std::set<std::string_view> sequences;
  std::istringstream written(species.at("sp.fas"));
  const ProteinRecord* previous = nullptr;
  for (std::string line; std::getline(written, line);) {
    const ProteinRecord& protein = *by_identifier.at(line.substr(1));
    TARNEL_FUZZ_CHECK(line[0] == '>' && !accounted[protein.ordinal]);
    accounted[protein.ordinal] = true;
    TARNEL_FUZZ_CHECK(sequences.insert(protein.sequence).second || settings.copy_mode == 0);
    TARNEL_FUZZ_CHECK(!previous || (settings.ordering == 0 ? previous->ordinal < protein.ordinal
                                                           : !compare_proteins(protein, *previous,
                                                                               settings.ordering)));
    previous = &protein;
    std::string sequence;
    while (sequence.size() < protein.sequence.size() && std::getline(written, line)) {
      sequence += line;
      TARNEL_FUZZ_CHECK(line.size() == 80 ||
                        (!line.empty() && line.size() < 80 && sequence == protein.sequence));
    }
    TARNEL_FUZZ_CHECK(sequence == protein.sequence);
  }
  std::istringstream duplicates(settings.copy_mode == 1 ? species.at("sp.dup") : "");
  for (std::string line; std::getline(duplicates, line);) {
    std::vector<std::string> fields{""};
    for (const char c : line) c == '\t' ? void(fields.emplace_back()) : fields.back().push_back(c);
    TARNEL_FUZZ_CHECK(fields.size() >= 3 && fields[1] == std::to_string(fields.size() - 2));
    for (std::size_t k = 2; k < fields.size(); ++k) {
      const ProteinRecord& copy = *by_identifier.at(fields[k]);
      TARNEL_FUZZ_CHECK(!accounted[copy.ordinal] &&
                        copy.sequence == by_identifier.at(fields[0])->sequence);
      accounted[copy.ordinal] = true;
    }
  }
  TARNEL_FUZZ_CHECK(std::count(accounted.begin(), accounted.end(), false) == 0);
  return 0;
}

}  // namespace tarnel::fuzz
