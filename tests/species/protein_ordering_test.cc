#include "species/protein_ordering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "species/copy_elimination.h"
#include "species/introspective_sort.h"

namespace tarnel {
namespace {

std::string identifiers(const ProteinSet& set) {
  std::string ids;
  for (const ProteinRecord& r : set.records) ids.append(r.identifier).append(" ");
  return ids;
}

TEST(OrderProteins, OrdersByLengthDirectionOrIdentifier) {
  const std::pair<std::int32_t, std::string> kCases[] = {
      {-1, "c30 a20 b10 "}, {1, "b10 a20 c30 "}, {3, "b10 a20 c30 "},
      {-2, "b10 a20 c30 "}, {2, "a20 b10 c30 "},
  };
  for (const auto& [ordering, expected] : kCases) {
    SCOPED_TRACE(ordering);
    ProteinSet set;
    for (const char* id : {"b10", "c30", "a20"}) set.add(id, std::string(std::stoul(id + 1), 'A'));
    order_proteins(set, ordering, 1);
    EXPECT_EQ(identifiers(set), expected);
  }
}

TEST(CompareProteins, BreaksTiesBySequenceBytesThenIdentifier) {
  const struct {
    const char* name;
    std::int32_t ordering;
    std::string a_identifier, a_sequence, b_identifier, b_sequence;
    char order;  // '<': a first, '>': b first, '=': neither
  } kCases[] = {
      {"ACD before ACE, longest first", -1, "x", "ACD", "y", "ACE", '<'},
      {"ACD before ACE, shortest first", 1, "x", "ACE", "y", "ACD", '>'},
      {"upper case before lower case", -1, "x", "ACd", "y", "ACD", '>'},
      {"bytes compare unsigned", 1, "x", "A\xC3", "y", "AB", '>'},
      {"same sequence: identifier decides, a prefix first", -1, "P10", "MK", "P1", "MK", '>'},
      {"equal in all three keys", -1, "P1", "MK", "P1", "MK", '='},
      {"lexico: P10 before P9", 2, "P10", "A", "P9", "AAAA", '<'},
      {"lexico: capitals before small letters", 2, "Zeta", "A", "alpha", "A", '<'},
      {"lexico: same identifier is equal", 2, "P1", "AAA", "P1", "A", '='},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ProteinSet set;
    set.add(c.a_identifier, c.a_sequence);
    set.add(c.b_identifier, c.b_sequence);
    EXPECT_EQ(compare_proteins(set[0], set[1], c.ordering), c.order == '<');
    EXPECT_EQ(compare_proteins(set[1], set[0], c.ordering), c.order == '>');
  }
}

TEST(OrderProteins, RenumbersCopiesToTheNewPositions) {
  ProteinSet set;
  for (const char* id : {"z", "y", "x"}) set.add(id, *id == 'y' ? "B" : "A");
  find_copies(set);
  order_proteins(set, 2, 1);
  EXPECT_EQ(identifiers(set), "x y z ");
  EXPECT_EQ(set[2].copies, std::vector<std::int32_t>{0});  // z's copy x now stands first
  EXPECT_TRUE(set[0].is_copy);
  EXPECT_EQ(set[0].ordinal, 2);
  EXPECT_EQ(set[2].ordinal, 0);
}

// Random sets with many ties: the result is ordered, a permutation, and every copies list still
// names the same proteins as before ordering. Sets of at most 32 are ordered by insertion alone,
// so their equal records keep their input order.
TEST(OrderProteins, RandomSetsWithTies) {
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    const std::size_t n = random() % (round < 150 ? 33 : 1500);
    const std::int32_t ordering = std::vector<std::int32_t>{-1, 1, 2, 7, -5}[round % 5];
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(n) + " records");
    const bool small = n <= 32;
    ProteinSet set;
    for (std::size_t i = 0; i < n; ++i) {
      std::string sequence(1 + random() % (small ? 2 : 6), 'A');
      for (char& c : sequence) c = "ACa"[random() % 3];
      set.add("P" + std::to_string(random() % (small ? 4 : 50)), sequence);
    }
    find_copies(set);
    // Per ordinal: identifier, sequence and the ordinal of each copy, which names one protein.
    // A record lost or doubled would leave its ordinal's entry empty or doubled.
    const auto describe = [&set] {
      std::vector<std::string> by_ordinal(set.size());
      for (const ProteinRecord& r : set.records) {
        std::string& d = by_ordinal[static_cast<std::size_t>(r.ordinal)];
        d.append(r.identifier).append(" ").append(r.sequence);
        for (const std::int32_t c : r.copies) {
          d += " " + std::to_string(set[static_cast<std::size_t>(c)].ordinal);
        }
      }
      return by_ordinal;
    };
    const std::vector<std::string> before = describe();
    order_proteins(set, ordering, 1);
    EXPECT_EQ(describe(), before);
    for (std::size_t i = 1; i < n; ++i) {
      ASSERT_FALSE(compare_proteins(set[i], set[i - 1], ordering)) << i;
      const bool tie = !compare_proteins(set[i - 1], set[i], ordering);
      ASSERT_TRUE(!small || !tie || set[i - 1].ordinal < set[i].ordinal) << i;
    }
  }
}

TEST(IntrospectiveSort, HeapFallbackSortsWhenTheBudgetIsSpent) {
  std::mt19937 random(9);
  std::vector<int> keys(3000);
  for (int& k : keys) k = static_cast<int>(random() % 100);
  std::vector<int> expected = keys;
  std::sort(expected.begin(), expected.end());
  auto less = std::less<int>();
  introspective_sort::sort_within_budget(keys.begin(), keys.end(), 0, less);
  EXPECT_EQ(keys, expected);
}

}  // namespace
}  // namespace tarnel
