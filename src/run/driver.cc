#include "run/driver.h"

#include <cstdint>
#include <iostream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

#include "run/console.h"
#include "run/host_file_system.h"
#include "run/interrupt_cleanup.h"
#include "run/species_list.h"
#include "species/species_flow.h"

namespace tarnel {

int run(const Arguments& arguments, std::ostream& out, Clock& clock, FileSystem& files) {
  Console console(out);
  const std::string program_name =
      derive_program_name(arguments.empty() ? std::string_view{} : arguments[0]);
  if (is_help_request(arguments)) {
    print_usage(console, program_name);
    return kExitOk;
  }
  const std::int64_t run_start_clock = clock.now_millis();
  print_banner(console, program_name, arguments);

  RunSettings settings;
  switch (parse_command_line(arguments, settings, console, program_name)) {
    case ParseOutcome::HelpShown:
      return kExitOk;
    case ParseOutcome::Failed:
      return kExitCommandLine;
    case ParseOutcome::Ready:
      break;
  }
  normalise_settings(settings);

  SpeciesList master;
  const ListOutcome master_outcome = read_master_list(files, console, settings.all_species, master);
  if (!master_outcome.ok()) return master_outcome.exit_code;
  ActiveList active;
  const ListOutcome active_outcome =
      read_active_list(files, console, settings.active_species, master, active);
  if (!active_outcome.ok()) return active_outcome.exit_code;

  const SpeciesContext context{settings, master, console, files, clock};
  std::int64_t species_ok_count = 0;
  std::int64_t error_count = 0;
  for (std::int32_t index = 0; index < master.size(); ++index) {
    const std::int64_t species_start_clock = clock.now_millis();
    if (process_species(context, index, active.mask, species_start_clock)) {
      ++species_ok_count;
    } else {
      ++error_count;
    }
  }

  const std::int64_t elapsed_minutes = ((clock.now_millis() - run_start_clock) / 1000) / 60;
  console.end_line();
  console << "Lines:" << active_outcome.lines_read << "  Species_OK:" << species_ok_count
          << "  Errors:" << error_count << "  Time:" << elapsed_minutes << "m";
  console.end_line();
  return kExitOk;
}

namespace {

// Every species allocates and frees a few blocks of a megabyte or so (its texts, its records,
// its read and write buffers). The C library hands blocks that large back to the system when
// they are freed, so the next species pays a page fault for every 4 KiB of them again: on a
// collection of small species that was 40% of the run. Kept in the heap they are reused warm.
// Blocks of a large species still come straight from the system and go back to it: in the
// heap, a freed block that no later block fits would only add to the peak.
void keep_freed_blocks_for_the_next_species() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

}  // namespace

int main_entry(int argc, char** argv) {
  interrupt_cleanup::install();
  keep_freed_blocks_for_the_next_species();
#ifdef _WIN32
  // A Windows console program ends its console lines with CR LF, also when they are
  // redirected to a file; the C runtime's text mode turns each '\n' written into that pair.
  // Set here rather than left to the runtime's default mode, which a link option can change.
  // Only standard output is translated: every file is written in binary mode.
  _setmode(_fileno(stdout), _O_TEXT);
#endif
  std::ios::sync_with_stdio(false);
  Arguments arguments(argv, argv + argc);
  SteadyClock clock;
  HostFileSystem files;
  return run(arguments, std::cout, clock, files);
}

}  // namespace tarnel
