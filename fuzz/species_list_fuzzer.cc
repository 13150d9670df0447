// Species lists from arbitrary bytes, read in blocks of any size. Whatever the bytes, a failed
// list ends in one known message; entries hold no TAB, line end or NUL, and each active one
// marks the first master entry of the same names, and nothing else is marked.
//
// Input: as file_bytes reads it; the file is the full list, and what follows its first 0xff
// byte is the active list. Without a 0xff byte the same bytes serve as both lists, and must
// then activate every entry.
#include "fuzz/fuzz_support.h"
#include "run/species_list.h"

namespace tarnel::fuzz {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  testing::MemoryFileSystem files;
  const std::string bytes = file_bytes(data, size, 'x', files);
  const std::size_t split = bytes.find('\xff');
  files.files["all"] = bytes.substr(0, split);
  files.files["act"] = split == bytes.npos ? bytes : bytes.substr(split + 1);
  std::ostringstream text;
  Console console(text);
  SpeciesList master;
  ActiveList active;
  int code = read_master_list(files, console, "all", master).exit_code;
  if (code == 0) code = read_active_list(files, console, "act", master, active).exit_code;
  if (const std::string printed = text.str(); code != 0) {
    TARNEL_FUZZ_CHECK(printed.find('\n') + 1 == printed.size() &&
                      (code == 2   ? printed.starts_with("Failed at line ")
                       : code == 3 ? printed.starts_with("no 2nd field in line ") ||
                                         printed.starts_with("no file name in line ")
                                   : code == 4 && printed.starts_with("Species ") &&
                                         printed.ends_with(" disagrees with master list\n")));
    return 0;
  }
  const SpeciesList& entries = active.entries;
  TARNEL_FUZZ_CHECK(active.mask.size() == master.names.size());
  TARNEL_FUZZ_CHECK(split != bytes.npos || entries.size() == master.size());
  for (std::int32_t k = 0; k < entries.size(); ++k) {
    const std::string entry = entries.names[k] + '\t' + entries.file_names[k];
    TARNEL_FUZZ_CHECK(entry.back() != '\t' && entry.find('\t') == entry.rfind('\t') &&
                      entry.find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
    std::int32_t j = 0;
    while (j < master.size() && master.names[j] + '\t' + master.file_names[j] != entry) ++j;
    TARNEL_FUZZ_CHECK(j < master.size() && active.mask[j] != ' ');
    active.mask[j] = '+';
  }
  TARNEL_FUZZ_CHECK(active.mask.find('.') == std::string::npos);
  return 0;
}

}  // namespace tarnel::fuzz
