// order_proteins sorts compact keys that answer most comparisons from a length and eight
// leading bytes. The order of equal records depends on every answer of the comparison, so the
// keys must answer exactly as compare_proteins does: checked here against the same sort run
// on positions with compare_proteins itself, on texts built to tie in the leading bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "species/introspective_sort.h"
#include "species/protein_ordering.h"

namespace tarnel {
namespace {

// The order that the sort makes with compare_proteins as its comparison: ordinals in turn.
std::vector<std::int32_t> reference_order(const ProteinSet& set, std::int32_t ordering) {
  std::vector<std::int32_t> order(set.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i);
  introspective_sort::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    return compare_proteins(set[static_cast<std::size_t>(a)], set[static_cast<std::size_t>(b)],
                            ordering);
  });
  return order;
}

std::string random_text(std::mt19937& random, const std::string& prefix, std::size_t extra) {
  std::string text = prefix;
  for (std::size_t i = 0; i < extra; ++i) text.push_back("ACa\0"[random() % 4]);
  return text;
}

TEST(OrderProteinsKeys, SameOrderAsTheSortOnCompareProteins) {
  std::mt19937 random(31);
  // Prefixes around eight bytes, the width of the keys' leading bytes.
  const std::vector<std::string> prefixes = {"",         "M",         "MKV",       "MKVLLAG",
                                             "MKVLLAGT", "MKVLLAGTW", "MKVLLAGTWQ"};
  for (int round = 0; round < 120; ++round) {
    const std::int32_t ordering = std::vector<std::int32_t>{-1, 1, 2, 9}[round % 4];
    const std::size_t n = 1 + random() % (round < 60 ? 200 : 3000);
    SCOPED_TRACE("round " + std::to_string(round) + ", ordering " + std::to_string(ordering) +
                 ", " + std::to_string(n) + " records");
    ProteinSet set;
    for (std::size_t i = 0; i < n; ++i) {
      const std::string& sequence_prefix = prefixes[random() % prefixes.size()];
      const std::string& identifier_prefix = prefixes[random() % prefixes.size()];
      set.add(random_text(random, identifier_prefix, random() % 3),
              random_text(random, sequence_prefix, random() % 4));
    }
    const std::vector<std::int32_t> expected = reference_order(set, ordering);
    order_proteins(set, ordering, 0);
    ASSERT_EQ(set.size(), expected.size());
    for (std::size_t i = 0; i < set.size(); ++i) {
      ASSERT_EQ(set[i].ordinal, expected[i]) << "position " << i;
    }
  }
}

}  // namespace
}  // namespace tarnel
