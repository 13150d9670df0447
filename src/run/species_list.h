// The two species lists: the master list that numbers every species of the run, and the active
// list that marks the new or modified ones.
#ifndef TARNEL_RUN_SPECIES_LIST_H_
#define TARNEL_RUN_SPECIES_LIST_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "run/exit_codes.h"
#include "base/file_system.h"

namespace tarnel {

/// Entries in file order; a species is known everywhere by its index in the master list.
struct SpeciesList {
  std::vector<std::string> names;
  std::vector<std::string> file_names;

  std::int32_t size() const { return static_cast<std::int32_t>(names.size()); }
  void add(std::string_view name, std::string_view file_name) {
    names.emplace_back(name);
    file_names.emplace_back(file_name);
  }
};

/// One character per master species: '.' for an active species, a blank for every other.
using ActivationMask = std::string;

/// What an entry line splits into, or which field it lacks.
struct EntryFields {
  enum class Problem { kNone, kNoSecondField, kNoFileName };
  Problem problem = Problem::kNone;
  std::string_view species_name;
  std::string_view file_name;
};

EntryFields split_entry_line(std::string_view line);

/// The outcome of reading a list: 0 on success, else the run's exit code (its message has been
/// printed).
struct ListOutcome {
  int exit_code = 0;
  std::int64_t lines_read = 0;
  bool ok() const { return exit_code == 0; }
};

/// Called with the two fields of each entry line; returns an exit code to stop
/// the reading with (its message printed), or 0 to go on.
using EntryAction = std::function<int(std::string_view name, std::string_view file_name)>;

/// The line loop shared by both lists: skips the header, empty and comment lines, splits
/// entry lines and hands them to `on_entry`.
ListOutcome read_list_lines(FileSystem& files, Console& console, const std::string& path,
                            std::string_view open_failure_message, const EntryAction& on_entry);

ListOutcome read_master_list(FileSystem& files, Console& console, const std::string& path,
                             SpeciesList& master);

struct ActiveList {
  SpeciesList entries;
  ActivationMask mask;
};

/// Matches every active entry against the master list, builds the mask and prints the
/// activation report.
ListOutcome read_active_list(FileSystem& files, Console& console, const std::string& path,
                             const SpeciesList& master, ActiveList& active);

}  // namespace tarnel

#endif  // TARNEL_RUN_SPECIES_LIST_H_
