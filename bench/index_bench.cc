// Compares the copy index with an ordered tree of views over the same sequences: both find
// the first occurrence of every sequence of the given FASTA files, and the program reports the
// median time of each and checks that they agree.
//
//   index_bench [--repeats R] FILE...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/host_file_system.h"
#include "median_time.h"
#include "species/fasta_reader.h"
#include "species/sequence_index.h"

namespace {

using tarnel::ProteinSet;

// First occurrence of every record's sequence, -1 for a first occurrence itself.
std::vector<std::int32_t> with_table(const ProteinSet& proteins) {
  std::vector<std::int32_t> first(proteins.size());
  tarnel::SequenceIndex index(proteins, proteins.size());
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    first[i] = index.insert_or_find(static_cast<std::int32_t>(i)).value_or(-1);
  }
  return first;
}

std::vector<std::int32_t> with_tree(const ProteinSet& proteins) {
  std::vector<std::int32_t> first(proteins.size());
  std::map<std::string_view, std::int32_t> index;
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    const auto [entry, inserted] =
        index.try_emplace(proteins[i].sequence, static_cast<std::int32_t>(i));
    first[i] = inserted ? -1 : entry->second;
  }
  return first;
}

template <typename Index>
double median_millis(const std::vector<ProteinSet>& sets, int repeats, Index index,
                     std::vector<std::vector<std::int32_t>>& results) {
  return tarnel::bench::median_millis(
      repeats, [&results] { results.clear(); },
      [&] {
        for (const ProteinSet& proteins : sets) results.push_back(index(proteins));
      });
}

}  // namespace

int main(int argc, char** argv) {
  int repeats = 5;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--repeats" && i + 1 < argc) {
      repeats = std::max(1, std::atoi(argv[++i]));
    } else {
      paths.emplace_back(argv[i]);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr, "usage: %s [--repeats R] FILE...\n", argv[0]);
    return 2;
  }
  tarnel::HostFileSystem files;
  std::ostringstream messages;
  tarnel::Console console(messages);
  std::vector<ProteinSet> sets(paths.size());
  std::size_t records = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (!tarnel::read_fasta(files, console, "", paths[i], sets[i])) {
      std::fprintf(stderr, "%s: %s", paths[i].c_str(), messages.str().c_str());
      return 1;
    }
    records += sets[i].size();
  }
  std::vector<std::vector<std::int32_t>> table_results;
  std::vector<std::vector<std::int32_t>> tree_results;
  const double table = median_millis(sets, repeats, with_table, table_results);
  const double tree = median_millis(sets, repeats, with_tree, tree_results);
  if (table_results != tree_results) {
    std::fprintf(stderr, "the two indexes disagree\n");
    return 1;
  }
  std::printf(
      "%zu files, %zu records: hash table %.1f ms, ordered tree %.1f ms, tree / table %.1f\n",
      paths.size(), records, table, tree, tree / table);
  return 0;
}
