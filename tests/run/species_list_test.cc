#include "run/species_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run/line_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

using testing::MemoryFileSystem;
using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entries_of(const SpeciesList& list) {
  EXPECT_EQ(list.names.size(), list.file_names.size());
  Entries entries;
  for (std::size_t k = 0; k < list.names.size(); ++k) {
    entries.emplace_back(list.names[k], list.file_names[k]);
  }
  return entries;
}

SpeciesList list_of(const Entries& entries) {
  SpeciesList list;
  for (const auto& [name, file_name] : entries) list.add(name, file_name);
  return list;
}

const std::string kLongest(kMaxLineBytes, 'x');

// Keeps the NUL bytes of a literal.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

TEST(SplitEntryLineTest, SplitsAtTabs) {
  using Problem = EntryFields::Problem;
  struct Case {
    const char* name;
    std::string line;
    Problem problem;
    std::string species_name;
    std::string file_name;
  };
  const Case kCases[] = {
      {"blank inside the name", "Homo sapiens\ths.fa", Problem::kNone, "Homo sapiens", "hs.fa"},
      {"two tabs, then more fields", "Hs\t\ths.fa\tmore\ttext", Problem::kNone, "Hs", "hs.fa"},
      {"empty name", "\ths.fa", Problem::kNone, "", "hs.fa"},
      {"file name of one blank", "Hs\t ", Problem::kNone, "Hs", " "},
      {"blanks kept around both fields", " Hs \t hs.fa ", Problem::kNone, " Hs ", " hs.fa "},
      {"empty third field", "Hs\ths.fa\t", Problem::kNone, "Hs", "hs.fa"},
      {"no tab", "Homo sapiens hs.fa", Problem::kNoSecondField, "", ""},
      {"empty line", "", Problem::kNoSecondField, "", ""},
      {"name and a tab", "Hs\t", Problem::kNoFileName, "", ""},
      {"name and tabs", "Hs\t\t\t", Problem::kNoFileName, "", ""},
      {"tabs only", "\t\t", Problem::kNoFileName, "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const EntryFields fields = split_entry_line(c.line);
    EXPECT_EQ(static_cast<int>(c.problem), static_cast<int>(fields.problem));
    if (c.problem == Problem::kNone) {
      EXPECT_EQ(c.species_name, fields.species_name);
      EXPECT_EQ(c.file_name, fields.file_name);
    }
  }
}

struct MasterCase {
  const char* name;
  std::string bytes;
  int exit_code;
  std::string console;
  Entries entries = {};         // when the exit code is 0
  std::int64_t lines_read = 0;  // when the exit code is 0
};

TEST(ReadMasterListTest, ReadsEntriesAndRejectsBadLines) {
  const MasterCase kCases[] = {
      {"header looks like an entry and is still skipped",
       "A\ta.fa\nB\tb.fa\n",
       0,
       "",
       {{"B", "b.fa"}},
       3},
      {"comments and empty lines skipped",
       "h\n;A\ta.fa\n#B\tb.fa\n\n\r\nC\tc.fa",
       0,
       "",
       {{"C", "c.fa"}},
       6},
      {"CR LF ends",
       "h\r\nA\ta.fa\r\nB\tb.fa\textra\r\n",
       0,
       "",
       {{"A", "a.fa"}, {"B", "b.fa"}},
       4},
      {"two CRs keep one at the end of the last field",
       "h\nA\ta.fa\r\r\nB\tb.fa\tx\r\r\n",
       0,
       "",
       {{"A", "a.fa\r"}, {"B", "b.fa"}},
       4},
      {"CR at the very end of the file", "h\nA\ta.fa\r", 0, "", {{"A", "a.fa"}}, 2},
      {"NUL ends the line's text", bytes("h\nA\ta.fa\0\tjunk\n\0#\n"), 0, "", {{"A", "a.fa"}}, 4},
      {"NUL before the tab", bytes("h\nB\0\tb.fa\n"), 3, "no 2nd field in line 2\n"},
      {"lines never trimmed", "h\n A \t a.fa \n", 0, "", {{" A ", " a.fa "}}, 3},
      {"repeated entries stay",
       "h\nA\ta.fa\nA\ta.fa\nA\tb.fa\n",
       0,
       "",
       {{"A", "a.fa"}, {"A", "a.fa"}, {"A", "b.fa"}},
       5},
      {"header only", "species_name\tFASTA_file_name\n", 0, "", {}, 2},
      {"header only, no line feed", "species_name\tFASTA_file_name", 0, "", {}, 1},
      {"zero bytes", "", 0, "", {}, 1},
      {"longest entry line",
       "h\nA\t" + kLongest.substr(2) + "\n",
       0,
       "",
       {{"A", kLongest.substr(2)}},
       3},
      {"longest entry line, CR counted",
       "h\nA\t" + kLongest.substr(3) + "\r\n",
       0,
       "",
       {{"A", kLongest.substr(3)}},
       3},
      {"longest header line at the end of the file", kLongest, 0, "", {}, 1},
      {"over-long entry line", "h\nA\t" + kLongest.substr(1) + "\n", 2, "Failed at line 2\n"},
      {"over-long line because of its CR", "h\n#\n" + kLongest + "\r\n", 2, "Failed at line 3\n"},
      {"over-long header", kLongest + "x\nA\ta.fa\n", 2, "Failed at line 1\n"},
      {"over-long comment", "h\n#" + kLongest + "\n", 2, "Failed at line 2\n"},
      {"no tab", "h\nA\ta.fa\n\n#c\nHomo sapiens hs.fa\n", 3, "no 2nd field in line 5\n"},
      {"name and a tab only", "h\n;c\nA\t\r\n", 3, "no file name in line 3\n"},
      {"tabs only", "h\n\t\t\n", 3, "no file name in line 2\n"},
      {"blanks only", "h\n   \n", 3, "no 2nd field in line 2\n"},
      {"comment sign after a blank", "h\n #c\n", 3, "no 2nd field in line 2\n"},
      {"first bad line ends the reading", "h\nA\nB\t\n", 3, "no 2nd field in line 2\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["all.txt"] = c.bytes;
    std::ostringstream out;
    Console console(out);
    SpeciesList master;
    const ListOutcome outcome = read_master_list(files, console, "all.txt", master);
    EXPECT_EQ(c.exit_code, outcome.exit_code);
    EXPECT_EQ(c.console, out.str());
    if (c.exit_code == 0) {
      EXPECT_EQ(c.entries, entries_of(master));
      EXPECT_EQ(c.lines_read, outcome.lines_read);
    }
  }
}

TEST(ReadMasterListTest, FailsWhenTheFileCannotBeRead) {
  struct Case {
    const char* name;
    void (*arrange)(MemoryFileSystem&);
    std::string console;
  };
  const Case kCases[] = {
      {"missing", [](MemoryFileSystem&) {}, "Bad or missing list of all species lists/all.txt\n"},
      {"unreadable",
       [](MemoryFileSystem& files) {
         files.files["lists/all.txt"] = "h\nA\ta.fa\n";
         files.unreadable.insert("lists/all.txt");
       },
       "Bad or missing list of all species lists/all.txt\n"},
      {"read error after the first block",
       [](MemoryFileSystem& files) {
         files.files["lists/all.txt"] = "h\nA\ta.fa\nB\tb.fa\n";
         files.block_bytes = 9;
         files.read_error.insert("lists/all.txt");
       },
       "Failed at line 3\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    c.arrange(files);
    std::ostringstream out;
    Console console(out);
    SpeciesList master;
    EXPECT_EQ(2, read_master_list(files, console, "lists/all.txt", master).exit_code);
    EXPECT_EQ(c.console, out.str());
  }
}

struct ActiveCase {
  const char* name;
  Entries master;
  std::string bytes;
  int exit_code;
  std::string console;
  Entries active = {};  // when the exit code is 0
  std::string mask = {};
  std::int64_t lines_read = 0;
};

TEST(ReadActiveListTest, MatchesEntriesAgainstTheMasterList) {
  const Entries kThree = {{"A", "a.fa"}, {"B", "b.fa"}, {"C", "c.fa"}};
  const ActiveCase kCases[] = {
      {"second of three",
       kThree,
       "h\nB\tb.fa\n",
       0,
       "Number of species to activate: 1 of 3\n",
       {{"B", "b.fa"}},
       " . ",
       3},
      {"header looks like an entry",
       kThree,
       "A\ta.fa\nC\tc.fa\n",
       0,
       "Number of species to activate: 1 of 3\n",
       {{"C", "c.fa"}},
       "  .",
       3},
      {"header and two entries with line feeds",
       kThree,
       "h\nA\ta.fa\nC\tc.fa\n",
       0,
       "Number of species to activate: 2 of 3\n",
       {{"A", "a.fa"}, {"C", "c.fa"}},
       ". .",
       4},
      {"the same without the final line feed",
       kThree,
       "h\nA\ta.fa\nC\tc.fa",
       0,
       "Number of species to activate: 2 of 3\n",
       {{"A", "a.fa"}, {"C", "c.fa"}},
       ". .",
       3},
      {"zero bytes", kThree, "", 0, "Number of species to activate: 0 of 3\n", {}, "   ", 1},
      {"entry given twice counts twice, one mark",
       kThree,
       "h\nB\tb.fa\nB\tb.fa\tx\n",
       0,
       "Number of species to activate: 2 of 3\n",
       {{"B", "b.fa"}, {"B", "b.fa"}},
       " . ",
       4},
      {"entry with CR LF matches",
       kThree,
       "h\r\nC\tc.fa\r\n",
       0,
       "Number of species to activate: 1 of 3\n",
       {{"C", "c.fa"}},
       "  .",
       3},
      {"only the first of repeated master entries is marked",
       {{"A", "a.fa"}, {"B", "b.fa"}, {"A", "a.fa"}},
       "h\nA\ta.fa\n",
       0,
       "Number of species to activate: 1 of 3\n",
       {{"A", "a.fa"}},
       ".  ",
       3},
      {"same name, other file: the matching entry is marked",
       {{"A", "a.fa"}, {"A", "a2.fa"}},
       "h\nA\ta2.fa\n",
       0,
       "Number of species to activate: 1 of 2\n",
       {{"A", "a2.fa"}},
       " .",
       3},
      {"empty master, header-only active",
       {},
       "h\n",
       0,
       "Number of species to activate: 0 of 0\n",
       {},
       "",
       2},
      {"unknown species", kThree, "h\nA\ta.fa\nD\td.fa\nE\te.fa\n", 4,
       "Species D disagrees with master list\n"},
      {"name matches, file name differs", kThree, "h\nB\tc.fa\n", 4,
       "Species B disagrees with master list\n"},
      {"file name matches, name differs", kThree, "h\nb\tb.fa\n", 4,
       "Species b disagrees with master list\n"},
      {"no case folding", kThree, "h\nA\tA.FA\n", 4, "Species A disagrees with master list\n"},
      {"a trailing blank is part of the file name", kThree, "h\nA\ta.fa \n", 4,
       "Species A disagrees with master list\n"},
      {"name and file name are not joined",
       {{"AB", "c.fa"}},
       "h\nA\tBc.fa\n",
       4,
       "Species A disagrees with master list\n"},
      {"any entry against an empty master",
       {},
       "h\nA\ta.fa\n",
       4,
       "Species A disagrees with master list\n"},
      {"field missing before an unknown entry", kThree, "h\nA\nD\td.fa\n", 3,
       "no 2nd field in line 2\n"},
      {"longest comment line",
       kThree,
       "h\nA\ta.fa\n#" + kLongest.substr(1) + "\n\n",
       0,
       "Number of species to activate: 1 of 3\n",
       {{"A", "a.fa"}},
       ".  ",
       5},
      {"one byte more", kThree, "h\nA\ta.fa\n" + kLongest + "z\n", 2, "Failed at line 3\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["act.txt"] = c.bytes;
    const SpeciesList master = list_of(c.master);
    std::ostringstream out;
    Console console(out);
    ActiveList active;
    const ListOutcome outcome = read_active_list(files, console, "act.txt", master, active);
    EXPECT_EQ(c.exit_code, outcome.exit_code);
    EXPECT_EQ(c.console, out.str());
    if (c.exit_code == 0) {
      EXPECT_EQ(c.active, entries_of(active.entries));
      EXPECT_EQ(c.mask, active.mask);
      EXPECT_EQ(c.lines_read, outcome.lines_read);
    }
  }
}

TEST(ReadActiveListTest, FailsWhenTheFileCannotBeOpened) {
  MemoryFileSystem files;
  files.files["act.txt"] = "h\n";
  files.unreadable.insert("act.txt");
  std::ostringstream out;
  Console console(out);
  ActiveList active;
  EXPECT_EQ(2, read_active_list(files, console, "act.txt", SpeciesList{}, active).exit_code);
  EXPECT_EQ("Bad or missing list of active species, act.txt\n", out.str());
}

// The usual set-up: one file serves as both lists, so every species is active.
TEST(ReadActiveListTest, SameFileForBothListsActivatesEverySpecies) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string report;
    std::string mask;
  };
  const Case kCases[] = {
      {"distinct entries", "species_name\tFASTA_file_name\nA\ta.fa\n# c\nB\tb.fa\nC\tc.fa\n",
       "Number of species to activate: 3 of 3\n", "..."},
      {"a repeated entry keeps its blank", "h\nA\ta.fa\nB\tb.fa\nA\ta.fa\n",
       "Number of species to activate: 3 of 3\n", ".. "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem files;
    files.files["species.txt"] = c.bytes;
    std::ostringstream out;
    Console console(out);
    SpeciesList master;
    ASSERT_TRUE(read_master_list(files, console, "species.txt", master).ok());
    ActiveList active;
    ASSERT_TRUE(read_active_list(files, console, "species.txt", master, active).ok());
    EXPECT_EQ(c.report, out.str());
    EXPECT_EQ(c.mask, active.mask);
    EXPECT_EQ(entries_of(master), entries_of(active.entries));
  }
}

}  // namespace
}  // namespace tarnel
