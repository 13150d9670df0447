// The proteins of a species: their texts, their copies and their order.
#include "species/protein.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "species/copy_elimination.h"
#include "species/introspective_sort.h"
#include "species/protein_ordering.h"

namespace tarnel {
namespace {

// The arena builds each sequence in place, line by line, and moves a text only when its chunk
// fills; every view handed out must keep its bytes whatever is built after it.
TEST(TextArena, KeepsEveryTextAcrossChunksAndGrowingTexts) {
  TextArena arena;
  arena.extend("");
  EXPECT_EQ(arena.reserved_bytes(), 0u);  // nothing asked of the system for nothing
  std::mt19937 random(11);
  std::vector<std::pair<std::string, std::string_view>> kept;
  // Texts of up to 200,000 bytes, longer than the first chunks, move while built. Some begin
  // with 300,000 bytes, which take the chunks past the size where they are made ready ahead;
  // two with 20 MiB, longer than such a chunk, which must be set aside rather than used.
  for (int i = 0; i < 600; ++i) {
    std::string text(i % 200 == 150 ? 20 << 20 : i % 5 == 0 ? 300000 : 0, 'Q');
    arena.extend(text);
    for (auto pieces = random() % (i % 50 == 1 ? 3000 : 8); pieces > 0; --pieces) {
      const std::string piece(random() % 70, static_cast<char>('A' + random() % 26));
      arena.extend(piece);
      text += piece;
      ASSERT_TRUE(arena.building() == text);
    }
    if (random() % 5 == 0)
      arena.drop();  // an abandoned text leaves nothing behind the next one
    else
      kept.emplace_back(text, random() % 3 == 0 ? arena.store(text) : arena.take());
  }
  for (const auto& [text, view] : kept) ASSERT_TRUE(view == text);
}

TEST(CompareProteins, LengthThenSequenceBytesThenIdentifierOrTheIdentifierAlone) {
  // The ordering, a's identifier and sequence, b's; '<': a first, '>': b first, '=': neither.
  const std::tuple<std::int32_t, const char*, const char*, const char*, const char*, char>
      kCases[] = {
          {-1, "x", "AC", "y", "ACE", '>'},  // longest first
          {-2, "x", "AC", "y", "ACE", '<'},  // any other but 2: shortest first
          {-1, "x", "ACD", "y", "ACE", '<'},   {1, "x", "ACE", "y", "ACD", '>'},
          {-1, "x", "ACd", "y", "ACD", '>'},   // upper case first
          {1, "x", "A\xC3", "y", "AB", '>'},   // bytes compare unsigned
          {-1, "P10", "MK", "P1", "MK", '>'},  // the same sequence: a prefix of an identifier first
          {-1, "P1", "MK", "P1", "MK", '='},   {2, "P10", "A", "P9", "AAAA", '<'},
          {2, "Zeta", "A", "alpha", "A", '<'}, {2, "P1", "AAA", "P1", "A", '='},
      };
  for (const auto& [ordering, a_identifier, a_sequence, b_identifier, b_sequence, order] : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << ordering << a_identifier << a_sequence << b_identifier << b_sequence);
    ProteinSet set;
    set.add(a_identifier, a_sequence);
    set.add(b_identifier, b_sequence);
    EXPECT_EQ(compare_proteins(set[0], set[1], ordering), order == '<');
    EXPECT_EQ(compare_proteins(set[1], set[0], ordering), order == '>');
  }
}

// Random sets, on texts built to tie in the eight leading bytes the ordering keys hold, with
// tails whose bytes sort on either side of each other, NUL and case included. Every later
// occurrence of a sequence is a copy listed on the first. The order of equal records depends on
// every answer of the comparison, so the keys must answer exactly as compare_proteins does:
// the order is that of the same sort run on positions with compare_proteins itself. Sets of at
// most 32 are ordered by insertion alone, so their equal records keep their input order. And
// every copies list still names the copies of its record.
TEST(OrderProteins, AsTheSortOnCompareProteinsWithCopiesRenumbered) {
  std::mt19937 random(31);
  const std::string prefixes[] = {"", "M", "MKV", "MKVLLAG", "MKVLLAGT", "MKVLLAGTW", "MKVLLAGTWQ"};
  const auto text = [&] {
    std::string built = prefixes[random() % std::size(prefixes)];
    for (auto n = random() % 4; n > 0; --n) built.push_back("ACa\0"[random() % 4]);
    return built;
  };
  for (int round = 0; round < 200; ++round) {
    const std::int32_t ordering = std::vector<std::int32_t>{-1, 1, 2, 9}[round % 4];
    const std::size_t n = 1 + random() % (round < 100 ? 32 : 3000);
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(n) + " records");
    ProteinSet set;
    std::map<std::string_view, std::vector<std::int32_t>> occurrences;
    for (std::size_t i = 0; i < n; ++i) {
      occurrences[set.add(text(), text()).sequence].push_back(static_cast<std::int32_t>(i));
    }
    std::ostringstream shown;
    Console console(shown);
    eliminate_copies(set, console);
    console.flush();  // the statistics shown at once
    ASSERT_TRUE(shown.str().starts_with(" p=" + std::to_string(n) + " ")) << shown.str();
    for (const auto& [sequence, at] : occurrences) {
      ASSERT_EQ(set[at[0]].copies, std::vector<std::int32_t>(at.begin() + 1, at.end()));
      for (const std::int32_t i : at) ASSERT_EQ(set[i].is_copy, i != at[0]);
    }
    const auto before = [&](std::size_t a, std::size_t b) {
      return compare_proteins(set[a], set[b], ordering);
    };
    std::vector<std::size_t> expected(n), heaped(n);
    std::iota(expected.begin(), expected.end(), 0);
    std::iota(heaped.begin(), heaped.end(), 0);
    introspective_sort::sort(expected.begin(), expected.end(), before);
    // The heap sort it falls back on once its budget is spent.
    introspective_sort::sort_within_budget(heaped.begin(), heaped.end(), 0, before);
    ASSERT_TRUE(std::is_sorted(heaped.begin(), heaped.end(), before));
    const std::vector<std::int32_t> order = written_order(set, ordering);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(static_cast<std::size_t>(order[i]), expected[i]) << i;
      if (i == 0) continue;
      ASSERT_FALSE(compare_proteins(set[order[i]], set[order[i - 1]], ordering)) << i;
      const bool tie = !compare_proteins(set[order[i - 1]], set[order[i]], ordering);
      ASSERT_TRUE(n > 32 || !tie || order[i - 1] < order[i]) << i;
    }
  }
}

}  // namespace
}  // namespace tarnel
