#include "species/copy_elimination.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tarnel {
namespace {

struct Outcome {
  std::string fragment;
  std::vector<std::vector<std::int32_t>> copies;
  std::vector<bool> is_copy;
};

Outcome eliminate(const std::vector<std::string>& sequences) {
  ProteinSet proteins;
  for (std::size_t i = 0; i < sequences.size(); ++i) {
    std::string identifier = std::to_string(i);
    identifier.insert(0, 1, 'P');
    proteins.add(identifier, sequences[i]);
  }
  std::ostringstream out;
  Console console(out);
  eliminate_copies(proteins, console);
  console.flush();
  Outcome outcome{out.str(), {}, {}};
  for (const ProteinRecord& r : proteins.records) {
    outcome.copies.push_back(r.copies);
    outcome.is_copy.push_back(r.is_copy);
  }
  return outcome;
}

TEST(EliminateCopies, MarksLaterOccurrencesAndListsThemOnTheFirst) {
  struct Case {
    const char* name;
    std::vector<std::string> sequences;
    std::vector<std::vector<std::int32_t>> copies;
    std::vector<bool> is_copy;
    std::string fragment;
  } const kCases[] = {
      {"empty set", {}, {}, {}, " p=0      dup=0     max=0  grp=0    "},
      {"one protein", {"MK"}, {{}}, {false}, " p=1      dup=0     max=0  grp=0    "},
      {"A B A B A",
       {"A", "B", "A", "B", "A"},
       {{2, 4}, {3}, {}, {}, {}},
       {false, false, true, true, true},
       " p=5      dup=3     max=2  grp=2    "},
      {"four equal",
       {"MKV", "MKV", "MKV", "MKV"},
       {{1, 2, 3}, {}, {}, {}},
       {false, true, true, true},
       " p=4      dup=3     max=3  grp=1    "},
      {"letter case differs",
       {"mkv", "MKV"},
       {{}, {}},
       {false, false},
       " p=2      dup=0     max=0  grp=0    "},
      {"a prefix differs",
       {"MKV", "MKVL", "MK"},
       {{}, {}, {}},
       {false, false, false},
       " p=3      dup=0     max=0  grp=0    "},
      {"empty sequences are equal",
       {"", ""},
       {{1}, {}},
       {false, true},
       " p=2      dup=1     max=1  grp=1    "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = eliminate(c.sequences);
    EXPECT_EQ(outcome.fragment, c.fragment);
    EXPECT_EQ(outcome.copies, c.copies);
    EXPECT_EQ(outcome.is_copy, c.is_copy);
  }
}

TEST(EliminateCopies, WritesCountsWiderThanTheirFieldsWhole) {
  std::vector<std::string> sequences(106, "MKV");
  sequences.push_back("LLA");
  const Outcome outcome = eliminate(sequences);
  EXPECT_EQ(outcome.fragment, " p=107    dup=105   max=105 grp=1    ");
  ASSERT_EQ(outcome.copies[0].size(), 105u);
  EXPECT_EQ(outcome.copies[0].front(), 1);
  EXPECT_EQ(outcome.copies[0].back(), 105);
}

TEST(EliminateCopies, NeverTakesDifferentSequencesForCopies) {
  // Many sequences that share lengths and long prefixes, so slots collide often.
  std::vector<std::string> sequences;
  for (int i = 0; i < 20000; ++i) {
    std::string s(64, 'A');
    s[static_cast<std::size_t>(i % 64)] = static_cast<char>('B' + (i / 64) % 20);
    s += std::to_string(i % 7000);
    sequences.push_back(s);
  }
  const Outcome outcome = eliminate(sequences);
  std::map<std::string, std::int32_t> first;
  for (std::size_t i = 0; i < sequences.size(); ++i) {
    const auto [it, inserted] = first.try_emplace(sequences[i], static_cast<std::int32_t>(i));
    ASSERT_EQ(outcome.is_copy[i], !inserted) << i;
    for (const std::int32_t copy : outcome.copies[i]) {
      ASSERT_EQ(sequences[static_cast<std::size_t>(copy)], sequences[i]);
    }
  }
}

}  // namespace
}  // namespace tarnel
