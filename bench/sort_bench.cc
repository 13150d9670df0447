// Orders a million proteins that arrive in random order, already in the final order, in the
// reverse order, or all equal, and reports for each the comparisons made (against n log2 n)
// and the median time of `written_order`, the ordering the tool does, relative to the random
// case. A sort whose budget or
// three-way partition failed would show up here as a quadratic count.
//
//   sort_bench [RECORDS] [REPEATS]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "median_time.h"
#include "species/introspective_sort.h"
#include "species/protein.h"
#include "species/protein_ordering.h"

namespace {

using tarnel::ProteinRecord;
using tarnel::ProteinSet;

constexpr std::int32_t kLongestFirst = -1;

std::uint64_t next_random(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Sequences are views into one pool of random residues, so a million proteins cost little
// memory while their texts still differ as real ones do.
struct Corpus {
  std::string pool;
  ProteinSet proteins;
};

void build_random(Corpus& corpus, std::size_t count) {
  std::uint64_t state = 42;
  corpus.pool.resize(std::size_t{1} << 23);
  for (char& c : corpus.pool) c = "ACDEFGHIKLMNPQRSTVWY"[next_random(state) % 20];
  corpus.proteins.records.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    // Lengths cluster as in proteomes, so many comparisons reach the sequence bytes.
    const double u = static_cast<double>(next_random(state) >> 11) * 0x1.0p-53;
    const auto length = static_cast<std::size_t>(50 + 450 * u * u);
    const std::size_t start = next_random(state) % (corpus.pool.size() - length);
    ProteinRecord& record = corpus.proteins.records.emplace_back();
    record.identifier = corpus.proteins.text.store("P" + std::to_string(i));
    record.sequence = std::string_view(corpus.pool).substr(start, length);
    record.ordinal = static_cast<std::int32_t>(i);
  }
}

void renumber(ProteinSet& proteins) {
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    proteins[i].ordinal = static_cast<std::int32_t>(i);
  }
}

std::uint64_t count_comparisons(const ProteinSet& proteins) {
  std::vector<std::int32_t> order(proteins.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i);
  std::uint64_t comparisons = 0;
  tarnel::introspective_sort::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    ++comparisons;
    return tarnel::compare_proteins(proteins[static_cast<std::size_t>(a)],
                                    proteins[static_cast<std::size_t>(b)], kLongestFirst);
  });
  return comparisons;
}

double median_order_millis(const ProteinSet& proteins, int repeats) {
  volatile std::size_t written = 0;  // so that the sort cannot be left out
  return tarnel::bench::median_millis(
      repeats, [] {}, [&] { written = tarnel::written_order(proteins, kLongestFirst).size(); });
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  if (count < 2 || repeats < 1) {
    std::fprintf(stderr, "usage: %s [RECORDS >= 2] [REPEATS >= 1]\n", argv[0]);
    return 2;
  }
  Corpus corpus;
  build_random(corpus, count);

  struct Case {
    const char* name;
    std::vector<ProteinRecord> records;
  };
  std::vector<Case> cases;
  cases.push_back({"random", corpus.proteins.records});
  std::vector<ProteinRecord> ordered = corpus.proteins.records;
  std::sort(ordered.begin(), ordered.end(), [](const ProteinRecord& a, const ProteinRecord& b) {
    return tarnel::compare_proteins(a, b, kLongestFirst);
  });
  cases.push_back({"ordered", ordered});
  std::reverse(ordered.begin(), ordered.end());
  cases.push_back({"reversed", std::move(ordered)});
  std::vector<ProteinRecord> equal = corpus.proteins.records;
  for (ProteinRecord& record : equal) {
    record.identifier = equal[0].identifier;
    record.sequence = equal[0].sequence;
  }
  cases.push_back({"all equal", std::move(equal)});

  const double n = static_cast<double>(count);
  const double n_log_n = n * std::log2(n);
  std::printf("%-10s %14s %12s %10s %9s\n", "input", "comparisons", "/ n log2 n", "median ms",
              "x random");
  double random_millis = 0;
  for (Case& c : cases) {
    ProteinSet proteins;
    proteins.records = std::move(c.records);
    renumber(proteins);
    const std::uint64_t comparisons = count_comparisons(proteins);
    const double millis = median_order_millis(proteins, repeats);
    if (random_millis == 0) random_millis = millis;
    std::printf("%-10s %14llu %12.2f %10.1f %9.2f\n", c.name,
                static_cast<unsigned long long>(comparisons),
                static_cast<double>(comparisons) / n_log_n, millis, millis / random_millis);
  }
  return 0;
}
