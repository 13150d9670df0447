// Species lists from arbitrary bytes: both lists are read as the tool reads them and compared
// with a whole-file model of the list format, entry by entry, message by message.
//
// Input: one byte picks the read block size, one byte the length that the first 0x7f byte is
// stretched to (to reach the line limit); the rest is the full list, and what follows its first
// 0xff byte is the active list. Without a 0xff byte the same bytes serve as both lists.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "base/console.h"
#include "run/species_list.h"

namespace tarnel::fuzz {
namespace {

struct ModelEntry {
  std::string_view name;
  std::string_view file_name;
};

struct ModelList {
  int exit_code = 0;
  std::string console;
  std::int64_t lines_read = 0;
  std::vector<ModelEntry> entries;
};

// The list format from its definition: header, comment and empty lines skipped, the name up to
// the first TAB, the file name after the run of TABs up to the next TAB.
ModelList model_list(std::string_view bytes, const std::vector<ModelEntry>* master) {
  ModelList list;
  WholeFileLines lines(bytes);
  std::int64_t n = 1;
  const auto stop = [&list, &n](int code, std::string_view message) {
    list.exit_code = code;
    list.console.append(message);
    list.console.append(std::to_string(n));
    list.console.push_back('\n');
    return list;
  };
  while (!lines.end()) {
    const WholeFileLines::Read read = lines.read();
    if (read.failed && !lines.end()) return stop(kExitListUnreadable, "Failed at line ");
    std::string_view text = WholeFileLines::text(read.bytes);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (n > 1 && !text.empty() && text[0] != ';' && text[0] != '#') {
      const std::size_t tab = text.find('\t');
      if (tab == std::string_view::npos)
        return stop(kExitListFieldMissing, "no 2nd field in line ");
      const std::size_t begin = text.find_first_not_of('\t', tab);
      if (begin == std::string_view::npos) {
        return stop(kExitListFieldMissing, "no file name in line ");
      }
      const std::size_t end = text.find('\t', begin);
      const ModelEntry entry{text.substr(0, tab),
                             text.substr(begin, end == std::string_view::npos ? end : end - begin)};
      if (master != nullptr) {
        bool known = false;
        for (const ModelEntry& m : *master) {
          known = known || (m.name == entry.name && m.file_name == entry.file_name);
        }
        if (!known) {
          list.exit_code = kExitUnknownActiveSpecies;
          list.console.append("Species ")
              .append(entry.name)
              .append(" disagrees with master list\n");
          return list;
        }
      }
      list.entries.push_back(entry);
    }
    ++n;
  }
  list.lines_read = n - 1;
  return list;
}

std::string activation_mask(const std::vector<ModelEntry>& master,
                            const std::vector<ModelEntry>& active) {
  std::string mask(master.size(), ' ');
  for (const ModelEntry& a : active) {
    for (std::size_t k = 0; k < master.size(); ++k) {
      if (master[k].name == a.name && master[k].file_name == a.file_name) {
        mask[k] = '.';
        break;
      }
    }
  }
  return mask;
}

void check_entries(const SpeciesList& list, const std::vector<ModelEntry>& expected) {
  TARNEL_FUZZ_CHECK(list.names.size() == expected.size());
  TARNEL_FUZZ_CHECK(list.file_names.size() == expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    TARNEL_FUZZ_CHECK(list.names[k] == expected[k].name);
    TARNEL_FUZZ_CHECK(list.file_names[k] == expected[k].file_name);
  }
}

int fuzz_one(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string bytes =
      with_long_run({reinterpret_cast<const char*>(data) + 2, size - 2}, data[1], 'x');
  const std::size_t split = bytes.find('\xff');
  const std::string all_bytes = bytes.substr(0, split);
  const std::string active_bytes = split == std::string::npos ? bytes : bytes.substr(split + 1);

  MapFileSystem files;
  files.block_bytes = block_bytes_for(data[0], bytes.size());
  files.files["all"] = all_bytes;
  files.files["active"] = active_bytes;

  std::ostringstream out;
  Console console(out);
  SpeciesList master;
  const ListOutcome master_outcome = read_master_list(files, console, "all", master);
  const ModelList master_model = model_list(all_bytes, nullptr);
  TARNEL_FUZZ_CHECK(master_outcome.exit_code == master_model.exit_code);
  TARNEL_FUZZ_CHECK(out.str() == master_model.console);
  if (!master_outcome.ok()) return 0;
  check_entries(master, master_model.entries);

  out.str("");
  ActiveList active;
  const ListOutcome active_outcome = read_active_list(files, console, "active", master, active);
  ModelList active_model = model_list(active_bytes, &master_model.entries);
  if (active_model.exit_code == 0) {
    active_model.console.append("Number of species to activate: ")
        .append(std::to_string(active_model.entries.size()))
        .append(" of ")
        .append(std::to_string(master_model.entries.size()))
        .push_back('\n');
  }
  TARNEL_FUZZ_CHECK(active_outcome.exit_code == active_model.exit_code);
  TARNEL_FUZZ_CHECK(out.str() == active_model.console);
  if (!active_outcome.ok()) return 0;
  TARNEL_FUZZ_CHECK(active_outcome.lines_read == active_model.lines_read);
  check_entries(active.entries, active_model.entries);
  TARNEL_FUZZ_CHECK(active.mask == activation_mask(master_model.entries, active_model.entries));
  // The same file as both lists activates every species it names.
  if (split == std::string::npos) {
    TARNEL_FUZZ_CHECK(active.entries.names.size() == master.names.size());
  }
  return 0;
}

}  // namespace
}  // namespace tarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tarnel::fuzz::fuzz_one(data, size);
}
