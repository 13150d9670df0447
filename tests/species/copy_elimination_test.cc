#include "species/copy_elimination.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tarnel {
namespace {

// The console fragment, then a token per record: "*" for a copy, its copies list for a record
// that has copies, "-" for any other.
std::string eliminate(const std::vector<std::string>& sequences) {
  ProteinSet proteins;
  for (const std::string& sequence : sequences) proteins.add("P", sequence);
  std::ostringstream out;
  Console console(out);
  eliminate_copies(proteins, console);
  console.flush();
  std::string outcome = out.str() + "|";
  for (const ProteinRecord& r : proteins.records) {
    EXPECT_FALSE(r.is_copy && !r.copies.empty());
    if (r.is_copy || r.copies.empty()) {
      outcome += r.is_copy ? " *" : " -";
      continue;
    }
    outcome += " [";
    for (const std::int32_t copy : r.copies) outcome += std::to_string(copy) + ",";
    outcome.back() = ']';
  }
  return outcome;
}

TEST(EliminateCopies, MarksLaterOccurrencesAndListsThemOnTheFirst) {
  std::string many_copies = " p=106    dup=105   max=105 grp=1    | [";
  for (int i = 1; i <= 105; ++i) many_copies += std::to_string(i) + (i < 105 ? "," : "]");
  for (int i = 1; i <= 105; ++i) many_copies += " *";
  const struct {
    const char* name;
    std::vector<std::string> sequences;
    std::string expected;
  } kCases[] = {
      {"empty set", {}, " p=0      dup=0     max=0  grp=0    |"},
      {"A B A B A",
       {"A", "B", "A", "B", "A"},
       " p=5      dup=3     max=2  grp=2    | [2,4] [3] * * *"},
      {"three equal", {"MKV", "MKV", "MKV"}, " p=3      dup=2     max=2  grp=1    | [1,2] * *"},
      {"case and prefix differ",
       {"mkv", "MKV", "MKVL", "MK"},
       " p=4      dup=0     max=0  grp=0    | - - - -"},
      {"105 copies are written whole", std::vector<std::string>(106, "MKV"), many_copies},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(eliminate(c.sequences), c.expected);
  }
}

}  // namespace
}  // namespace tarnel
