#include "run/species_list.h"

#include <unordered_map>

#include "base/line_reader.h"

namespace tarnel {
namespace {

// Finds the first master entry with this exact name and file name. Built once per active list
// so that matching stays linear in the list sizes; earlier entries win, as a front-to-back
// search would have it.
class MasterIndex {
 public:
  explicit MasterIndex(const SpeciesList& master) {
    first_index_.reserve(master.names.size());
    for (std::int32_t k = 0; k < master.size(); ++k) {
      first_index_.try_emplace(key(master.names[k], master.file_names[k]), k);
    }
  }
  /// -1 when no entry matches.
  std::int32_t find(std::string_view name, std::string_view file_name) const {
    const auto found = first_index_.find(key(name, file_name));
    return found == first_index_.end() ? -1 : found->second;
  }

 private:
  // The name's length leads the key, so no choice of bytes makes two different pairs equal.
  static std::string key(std::string_view name, std::string_view file_name) {
    std::string joined = std::to_string(name.size());
    joined.push_back(':');
    joined.append(name);
    joined.append(file_name);
    return joined;
  }
  std::unordered_map<std::string, std::int32_t> first_index_;
};

}  // namespace

EntryFields split_entry_line(std::string_view line) {
  EntryFields fields;
  const std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos) {
    fields.problem = EntryFields::Problem::kNoSecondField;
    return fields;
  }
  fields.species_name = line.substr(0, tab);
  const std::size_t begin = line.find_first_not_of('\t', tab);
  if (begin == std::string_view::npos) {
    fields.problem = EntryFields::Problem::kNoFileName;
    return fields;
  }
  const std::size_t end = line.find('\t', begin);
  fields.file_name = line.substr(begin, end == std::string_view::npos ? end : end - begin);
  return fields;
}

ListOutcome read_list_lines(FileSystem& files, Console& console, const std::string& path,
                            std::string_view open_failure_message, const EntryAction& on_entry) {
  ListOutcome outcome;
  std::unique_ptr<ByteSource> source = files.open_for_reading(path);
  if (source == nullptr) {
    console << open_failure_message << path;
    console.end_line();
    outcome.exit_code = kExitListUnreadable;
    return outcome;
  }
  LineReader reader(std::move(source));
  std::int64_t line_number = 1;
  while (!reader.end_reached()) {
    const LineRead read = reader.read_line();
    if (read.status == ReadStatus::kTooLong || read.status == ReadStatus::kReadError) {
      console << "Failed at line " << line_number;
      console.end_line();
      outcome.exit_code = kExitListUnreadable;
      return outcome;
    }
    const std::string_view text = without_trailing_cr(text_before_nul(read.bytes));
    const bool skipped =
        line_number == 1 || text.empty() || text.front() == ';' || text.front() == '#';
    if (!skipped) {
      const EntryFields fields = split_entry_line(text);
      if (fields.problem != EntryFields::Problem::kNone) {
        console << (fields.problem == EntryFields::Problem::kNoSecondField
                        ? "no 2nd field in line "
                        : "no file name in line ")
                << line_number;
        console.end_line();
        outcome.exit_code = kExitListFieldMissing;
        return outcome;
      }
      outcome.exit_code = on_entry(fields.species_name, fields.file_name);
      if (outcome.exit_code != 0) return outcome;
    }
    ++line_number;
  }
  outcome.lines_read = line_number - 1;
  return outcome;
}

ListOutcome read_master_list(FileSystem& files, Console& console, const std::string& path,
                             SpeciesList& master) {
  return read_list_lines(files, console, path, "Bad or missing list of all species ",
                         [&master](std::string_view name, std::string_view file_name) {
                           master.add(name, file_name);
                           return 0;
                         });
}

ListOutcome read_active_list(FileSystem& files, Console& console, const std::string& path,
                             const SpeciesList& master, ActiveList& active) {
  active.mask.assign(master.names.size(), ' ');
  const MasterIndex index(master);
  const ListOutcome outcome =
      read_list_lines(files, console, path, "Bad or missing list of active species, ",
                      [&](std::string_view name, std::string_view file_name) {
                        const std::int32_t k = index.find(name, file_name);
                        if (k < 0) {
                          console << "Species " << name << " disagrees with master list";
                          console.end_line();
                          return kExitUnknownActiveSpecies;
                        }
                        active.entries.add(name, file_name);
                        active.mask[static_cast<std::size_t>(k)] = '.';
                        return 0;
                      });
  if (outcome.ok()) {
    console << "Number of species to activate: " << std::int64_t{active.entries.size()} << " of "
            << std::int64_t{master.size()};
    console.end_line();
  }
  return outcome;
}

}  // namespace tarnel
