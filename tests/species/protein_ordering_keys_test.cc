// order_proteins sorts compact keys that answer most comparisons from a length and eight
// leading bytes. The order of equal records depends on every answer of the comparison, so the
// keys must answer exactly as compare_proteins does: checked here against the same sort run
// on positions with compare_proteins itself, on texts built to tie in the leading bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "species/introspective_sort.h"
#include "species/protein_ordering.h"

namespace tarnel {
namespace {

TEST(OrderProteinsKeys, SameOrderAsTheSortOnCompareProteins) {
  std::mt19937 random(31);
  // Prefixes around eight bytes, the width of the keys' leading bytes, and tails whose bytes
  // sort on either side of each other, NUL included.
  const std::string prefixes[] = {"", "M", "MKV", "MKVLLAG", "MKVLLAGT", "MKVLLAGTW", "MKVLLAGTWQ"};
  const auto text = [&] {
    std::string built = prefixes[random() % std::size(prefixes)];
    for (auto n = random() % 4; n > 0; --n) built.push_back("ACa\0"[random() % 4]);
    return built;
  };
  for (int round = 0; round < 120; ++round) {
    const std::int32_t ordering = std::vector<std::int32_t>{-1, 1, 2, 9}[round % 4];
    ProteinSet set;
    for (auto n = 1 + random() % (round < 60 ? 200 : 3000); n > 0; --n) set.add(text(), text());
    std::vector<std::size_t> expected(set.size());
    std::iota(expected.begin(), expected.end(), 0);
    introspective_sort::sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
      return compare_proteins(set[a], set[b], ordering);
    });
    order_proteins(set, ordering, 0);
    for (std::size_t i = 0; i < set.size(); ++i) {
      ASSERT_EQ(static_cast<std::size_t>(set[i].ordinal), expected[i])
          << "round " << round << ", position " << i;
    }
  }
}

}  // namespace
}  // namespace tarnel
