#include "species/copy_elimination.h"

#include "species/sequence_index.h"

namespace tarnel {

CopyStatistics find_copies(ProteinSet& proteins) {
  CopyStatistics statistics;
  statistics.proteins = proteins.size();
  SequenceIndex index(proteins, proteins.size());
  // Hashes run a few records ahead of the searches, so that the slot a search starts at has
  // been asked for from memory by the time it is needed: in a large species nearly every
  // search otherwise began with a wait for memory.
  constexpr std::size_t kAhead = 16;
  std::uint64_t hashes[kAhead];
  const std::size_t count = proteins.size();
  for (std::size_t i = 0; i < count && i < kAhead; ++i) {
    hashes[i] = index.hash_of(static_cast<std::int32_t>(i));
  }
  for (std::size_t i = 0; i < count; ++i) {
    const auto position = static_cast<std::int32_t>(i);
    const std::uint64_t hash = hashes[i % kAhead];
    if (i + kAhead < count)
      hashes[i % kAhead] = index.hash_of(static_cast<std::int32_t>(i + kAhead));
    const std::optional<std::int32_t> first = index.insert_or_find(position, hash);
    if (!first) continue;
    proteins[i].is_copy = true;
    ++statistics.copy_count;
    std::vector<std::int32_t>& copies = proteins[static_cast<std::size_t>(*first)].copies;
    if (copies.empty()) ++statistics.group_count;
    copies.push_back(position);
    const auto length = static_cast<std::int32_t>(copies.size());
    if (length > statistics.max_copies) statistics.max_copies = length;
  }
  return statistics;
}

void print_copy_statistics(Console& console, const CopyStatistics& statistics) {
  console << " p=";
  console.left(statistics.proteins, 6);
  console << " dup=";
  console.left(static_cast<std::uint64_t>(statistics.copy_count), 5);
  console << " max=";
  console.left(static_cast<std::uint64_t>(statistics.max_copies), 2);
  console << " grp=";
  console.left(static_cast<std::uint64_t>(statistics.group_count), 5);
}

CopyStatistics eliminate_copies(ProteinSet& proteins, Console& console) {
  const CopyStatistics statistics = find_copies(proteins);
  print_copy_statistics(console, statistics);
  return statistics;
}

}  // namespace tarnel
