#include "run/species_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_support.h"

namespace tarnel {
namespace {

using testing::MemoryFileSystem;

std::string report(std::int32_t active, std::int32_t all) {
  return "Number of species to activate: " + std::to_string(active) + " of " + std::to_string(all) +
         "\n";
}

// A list read told in one line: the exit code and message of a failure, or the console text,
// the number of line reads and the entries.
std::string told(const ListOutcome& outcome, const std::string& console, const SpeciesList& list) {
  if (!outcome.ok()) return "exit " + std::to_string(outcome.exit_code) + ": " + console;
  std::string text = console + std::to_string(outcome.lines_read) + " reads:";
  for (std::size_t k = 0; k < list.names.size(); ++k) {
    text += " [" + list.names[k] + "|" + list.file_names.at(k) + "]";
  }
  return text;
}

// Each file is read as the master list, then, as in the usage example, as the active list
// against that master list, which makes every entry active.
TEST(ReadListsTest, BothListsShareOneLineFormat) {
  const std::string x65533(65533, 'x');
  const std::tuple<const char*, std::string, std::string> kCases[] = {
      {"header looks like an entry", "A\ta.fa\nB\tb.fa\n", "3 reads: [B|b.fa]"},
      {"comments, no final LF", "h\n;A\ta.fa\n#B\tb.fa\n\r\nC\tc.fa", "5 reads: [C|c.fa]"},
      {"CR LF; two CRs keep one", "h\r\nA\ta\r\nB\tb\r\r\n", "4 reads: [A|a] [B|b\r]"},
      {"NUL ends the line", {"h\nA\ta.fa\0\tx\n", 12}, "3 reads: [A|a.fa]"},
      {"fields", "h\nHomo sapiens\t\ths.fa\tx\nA\t \n", "4 reads: [Homo sapiens|hs.fa] [A| ]"},
      {"65,535 bytes", "h\nA\t" + x65533 + "\n", "3 reads: [A|" + x65533 + "]"},
      {"65,536 bytes", "h\nA\t" + x65533 + "x\n", "exit 2: Failed at line 2\n"},
      {"no TAB", "h\nA\ta.fa\n#c\nHomo sapiens hs.fa\n", "exit 3: no 2nd field in line 4\n"},
      {"only TABs after the name", "h\n\nA\t\t\r\n", "exit 3: no file name in line 3\n"},
      {"blank-only line is an entry", "h\n   \n", "exit 3: no 2nd field in line 2\n"},
      {"' #x' is an entry", "h\n #x\n", "exit 3: no 2nd field in line 2\n"},
      {"zero bytes", "", "1 reads:"},
  };
  for (const auto& [name, bytes, expected] : kCases) {
    SCOPED_TRACE(name);
    MemoryFileSystem files;
    files.files["list.txt"] = bytes;
    std::ostringstream out;
    Console console(out);
    SpeciesList master;
    const ListOutcome master_outcome = read_master_list(files, console, "list.txt", master);
    EXPECT_EQ(expected, told(master_outcome, out.str(), master));
    // After a failure, the entries read so far lead the active list to the same line.
    const std::string report_text = master_outcome.ok() ? report(master.size(), master.size()) : "";
    out.str("");
    ActiveList active;
    const ListOutcome outcome = read_active_list(files, console, "list.txt", master, active);
    EXPECT_EQ(report_text + expected, told(outcome, out.str(), active.entries));
    if (outcome.ok()) {
      EXPECT_EQ(std::string(master.names.size(), '.'), active.mask);
    }
  }
}

TEST(ReadActiveListTest, MarksTheFirstMasterEntryWithTheSameNameAndFileName) {
  using Entries = std::vector<std::pair<const char*, const char*>>;
  const Entries kThree = {{"A", "a"}, {"B", "b"}, {"C", "c"}};
  const auto disagrees = [](const std::string& name) {
    return "exit 4: Species " + name + " disagrees with master list\n";
  };
  // The list of a success is told by its report and its mask.
  const std::tuple<const char*, Entries, std::string, std::string> kCases[] = {
      {"an entry given twice counts twice", kThree, "h\nC\tc\nC\tc\n", report(2, 3) + "[  .]"},
      {"repeated master entry",
       {{"A", "a"}, {"B", "b"}, {"A", "a"}},
       "h\nA\ta\n",
       report(1, 3) + "[.  ]"},
      {"the first unknown entry ends it", kThree, "h\nA\ta\nD\td\nE\t\n", disagrees("D")},
      {"a known name, another file name", kThree, "h\nB\tc\n", disagrees("B")},
      {"name and file name are not joined", {{"AB", "c"}}, "h\nA\tBc\n", disagrees("A")},
  };
  for (const auto& [name, entries, bytes, expected] : kCases) {
    SCOPED_TRACE(name);
    MemoryFileSystem files;
    files.files["act.txt"] = bytes;
    SpeciesList master;
    for (const auto& [species_name, file_name] : entries) master.add(species_name, file_name);
    std::ostringstream out;
    Console console(out);
    ActiveList active;
    const ListOutcome outcome = read_active_list(files, console, "act.txt", master, active);
    EXPECT_EQ(expected, outcome.ok() ? out.str() + "[" + active.mask + "]"
                                     : told(outcome, out.str(), active.entries));
  }
}

}  // namespace
}  // namespace tarnel
