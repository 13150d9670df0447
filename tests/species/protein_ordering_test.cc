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

ProteinSet make_set(const std::vector<std::pair<std::string, std::string>>& proteins) {
  ProteinSet set;
  for (const auto& [identifier, sequence] : proteins) set.add(identifier, sequence);
  return set;
}

std::vector<std::string> identifiers(const ProteinSet& set) {
  std::vector<std::string> ids;
  for (const ProteinRecord& r : set.records) ids.emplace_back(r.identifier);
  return ids;
}

TEST(OrderProteins, OrdersByLengthDirectionOrIdentifier) {
  const std::vector<std::pair<std::string, std::string>> input = {
      {"b10", std::string(10, 'A')}, {"c30", std::string(30, 'A')}, {"a20", std::string(20, 'A')}};
  struct Case {
    std::int32_t ordering;
    std::vector<std::string> expected;
  } const kCases[] = {
      {-1, {"c30", "a20", "b10"}}, {1, {"b10", "a20", "c30"}}, {3, {"b10", "a20", "c30"}},
      {-2, {"b10", "a20", "c30"}}, {2, {"a20", "b10", "c30"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ordering);
    ProteinSet set = make_set(input);
    order_proteins(set, c.ordering, 1);
    EXPECT_EQ(identifiers(set), c.expected);
  }
}

TEST(CompareProteins, BreaksTiesBySequenceBytesThenIdentifier) {
  struct Case {
    const char* name;
    std::int32_t ordering;
    std::pair<std::string, std::string> a, b;
    bool a_first, b_first;
  } const kCases[] = {
      {"ACD before ACE, longest first", -1, {"x", "ACD"}, {"y", "ACE"}, true, false},
      {"ACD before ACE, shortest first", 1, {"x", "ACE"}, {"y", "ACD"}, false, true},
      {"upper case before lower case", -1, {"x", "ACd"}, {"y", "ACD"}, false, true},
      {"bytes compare unsigned", 1, {"x", "A\xC3"}, {"y", "AB"}, false, true},
      {"same sequence: identifier decides", -1, {"P2", "MK"}, {"P1", "MK"}, false, true},
      {"equal in all three keys", -1, {"P1", "MK"}, {"P1", "MK"}, false, false},
      {"lexico compares text, not numbers", 2, {"P10", "A"}, {"P9", "AAAA"}, true, false},
      {"lexico: every capital before any small letter",
       2,
       {"Zeta", "A"},
       {"alpha", "A"},
       true,
       false},
      {"lexico: a prefix first", 2, {"P1", "A"}, {"P10", "A"}, true, false},
      {"lexico: same identifier is equal", 2, {"P1", "AAA"}, {"P1", "A"}, false, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ProteinSet set = make_set({c.a, c.b});
    EXPECT_EQ(compare_proteins(set[0], set[1], c.ordering), c.a_first);
    EXPECT_EQ(compare_proteins(set[1], set[0], c.ordering), c.b_first);
  }
}

TEST(OrderProteins, RenumbersCopiesThroughThePositionTable) {
  ProteinSet set = make_set({{"z", "A"}, {"y", "B"}, {"x", "A"}});
  find_copies(set);
  ASSERT_EQ(set[0].copies, std::vector<std::int32_t>{2});
  order_proteins(set, 2, 1);
  EXPECT_EQ(identifiers(set), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(set[2].copies, std::vector<std::int32_t>{0});
  EXPECT_EQ(set[0].ordinal, 2);
  EXPECT_EQ(set[2].ordinal, 0);
  EXPECT_TRUE(set[0].is_copy);
}

TEST(OrderProteins, SmallSetsKeepEqualRecordsInInputOrder) {
  for (const std::int32_t ordering : {-1, 1, 2}) {
    SCOPED_TRACE(ordering);
    ProteinSet set;
    for (int i = 0; i < 32; ++i) {
      // Same identifier and sequence within each of four groups.
      set.add("id" + std::to_string(i % 4), std::string(static_cast<std::size_t>(1 + i % 4), 'K'));
    }
    order_proteins(set, ordering, 0);
    for (std::size_t i = 1; i < set.size(); ++i) {
      if (set[i].identifier == set[i - 1].identifier) {
        EXPECT_LT(set[i - 1].ordinal, set[i].ordinal);
      }
    }
  }
}

// Random sets with many ties: the result is ordered, a permutation, and every copies list still
// names the same proteins as before ordering.
TEST(OrderProteins, RandomSetsWithTies) {
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    const std::size_t n = random() % (round < 100 ? 40 : 1500);
    const std::int32_t ordering = std::vector<std::int32_t>{-1, 1, 2, 7, -5}[round % 5];
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(n) + " records");
    ProteinSet set;
    for (std::size_t i = 0; i < n; ++i) {
      std::string sequence(1 + random() % 6, 'A');
      for (char& c : sequence) c = "ACa"[random() % 3];
      set.add("P" + std::to_string(random() % 50), sequence);
    }
    find_copies(set);
    std::vector<std::vector<std::string>> copy_names(n);
    std::vector<std::string> sequence_of(n);
    for (const ProteinRecord& r : set.records) {
      const auto o = static_cast<std::size_t>(r.ordinal);
      sequence_of[o] = std::string(r.sequence);
      for (const std::int32_t c : r.copies) {
        copy_names[o].emplace_back(set[static_cast<std::size_t>(c)].identifier);
      }
    }

    order_proteins(set, ordering, 1);

    std::vector<bool> seen(n, false);
    for (std::size_t i = 0; i < n; ++i) {
      const ProteinRecord& r = set[i];
      if (i > 0) {
        ASSERT_FALSE(compare_proteins(r, set[i - 1], ordering)) << i;
      }
      const auto o = static_cast<std::size_t>(r.ordinal);
      ASSERT_FALSE(seen[o]);
      seen[o] = true;
      ASSERT_EQ(r.sequence, sequence_of[o]);
      std::vector<std::string> names;
      for (const std::int32_t c : r.copies) {
        const ProteinRecord& copy = set[static_cast<std::size_t>(c)];
        ASSERT_TRUE(copy.is_copy);
        ASSERT_EQ(copy.sequence, r.sequence);
        names.emplace_back(copy.identifier);
      }
      ASSERT_EQ(names, copy_names[o]);
    }
  }
}

TEST(IntrospectiveSort, AgreesWithAStableSortOnDistinctKeys) {
  std::mt19937 random(7);
  for (const std::size_t n : {0u, 1u, 2u, 32u, 33u, 41u, 42u, 100u, 5000u}) {
    SCOPED_TRACE(n);
    std::vector<int> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = static_cast<int>(i);
    std::shuffle(keys.begin(), keys.end(), random);
    std::vector<int> expected = keys;
    std::sort(expected.begin(), expected.end());
    introspective_sort::sort(keys.begin(), keys.end(), std::less<int>());
    EXPECT_EQ(keys, expected);
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
