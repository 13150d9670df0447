#include "run/driver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

#include "base/console.h"
#include "base/host.h"
#include "base/host_file_system.h"
#include "base/interrupt_cleanup.h"
#include "base/performance_switches.h"
#include "run/parallel_species.h"
#include "run/run_report.h"
#include "run/species_list.h"
#include "species/species_flow.h"

namespace tarnel {

namespace {

// Where "Species " + name + " is not in the list of all species" is due, the first such name.
std::optional<std::string> first_unknown_name(const std::vector<std::string>& names,
                                              const SpeciesList& master) {
  const std::unordered_set<std::string_view> listed(master.names.begin(), master.names.end());
  for (const std::string& name : names) {
    if (listed.count(name) == 0) return name;
  }
  return std::nullopt;
}

// The directories a run writes into, for --mkdir: each file kind that is on, and the report's.
void make_output_directories(const RunSettings& settings, FileSystem& files) {
  std::vector<std::string> directories;
  if (settings.copy_mode == 1) directories.push_back(settings.duplicates_path);
  if (settings.status_mode == 1) directories.push_back(settings.status_path);
  if (settings.write_mode == 1) directories.push_back(settings.output_path);
  if (settings.report_path) directories.push_back(directory_part(*settings.report_path));
  for (const std::string& directory : directories) {
    // One that cannot be made fails each species that needs it, with that species' message.
    if (!directory.empty()) files.make_directories(directory);
  }
}

// The species in flight together may hold up to this share of the memory the process may use
// with their inputs; what they build around the inputs takes much of the rest.
constexpr std::uint64_t kMemoryShareDivisor = 2;

ParallelLimits parallel_limits(const RunSettings& settings, const HostCapacity& capacity) {
  ParallelLimits limits;
  limits.jobs = std::min(settings.jobs.value_or(capacity.processors), kMostJobs);
  if (capacity.memory_bytes != 0)
    limits.memory_budget = capacity.memory_bytes / kMemoryShareDivisor;
  return limits;
}

int run_with_console(const Arguments& arguments, Console& console, Clock& clock, FileSystem& files,
                     const HostCapacity& capacity) {
  const std::string program_name =
      derive_program_name(arguments.empty() ? std::string_view{} : arguments[0]);
  if (is_help_request(arguments)) {
    print_usage(console, program_name);
    return kExitOk;
  }
  if (answer_first_long_request(arguments, console, program_name)) return kExitOk;
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
  files.set_sync(settings.sync);

  SpeciesList master;
  const ListOutcome master_outcome = read_master_list(files, console, settings.all_species, master);
  if (!master_outcome.ok()) return master_outcome.exit_code;
  ActiveList active;
  const ListOutcome active_outcome =
      read_active_list(files, console, settings.active_species, master, active);
  if (!active_outcome.ok()) return active_outcome.exit_code;
  if (const auto unknown = first_unknown_name(settings.only, master)) {
    console << "Species " << *unknown << " is not in the list of all species";
    console.end_line();
    return kExitUnknownActiveSpecies;
  }
  const std::unordered_set<std::string_view> only(settings.only.begin(), settings.only.end());
  if (settings.make_directories) make_output_directories(settings, files);

  const SpeciesContext context{settings, master.names, master.file_names, console, files, clock};
  std::optional<RunReport> report;
  if (settings.report_path) report.emplace();
  std::int64_t species_ok_count = 0;
  std::int64_t error_count = 0;
  const auto count_species = [&](std::int32_t index, const SpeciesOutcome& outcome,
                                 std::int64_t elapsed_millis) {
    if (outcome.ok) {
      ++species_ok_count;
    } else {
      ++error_count;
    }
    if (report) report->add(master.names[static_cast<std::size_t>(index)], outcome, elapsed_millis);
  };
  std::vector<std::int32_t> selected;
  for (std::int32_t index = 0; index < master.size(); ++index) {
    if (only.empty() || only.count(master.names[static_cast<std::size_t>(index)]) != 0) {
      selected.push_back(index);
    }
  }
  const ParallelLimits limits = parallel_limits(settings, capacity);
  const bool parallel =
      limits.jobs > 1 && selected.size() > 1 &&
      process_species_in_parallel(context, selected, active.mask, limits, count_species);
  // One species after the other, with no thread of the run's own.
  for (std::size_t i = 0; !parallel && i < selected.size(); ++i) {
    const std::int64_t species_start_clock = clock.now_millis();
    const SpeciesOutcome outcome =
        process_species(context, selected[i], active.mask, species_start_clock);
    const std::int64_t end = outcome.end_clock ? *outcome.end_clock : clock.now_millis();
    count_species(selected[i], outcome, end - species_start_clock);
  }

  const std::int64_t elapsed_minutes = ((clock.now_millis() - run_start_clock) / 1000) / 60;
  console.end_line();
  console << "Lines:" << active_outcome.lines_read << "  Species_OK:" << species_ok_count
          << "  Errors:" << error_count << "  Time:" << elapsed_minutes << "m";
  console.end_line();

  int exit_code = kExitOk;
  if (settings.strict && error_count != 0) exit_code = kExitSpeciesFailed;
  if (report && !report->write(files, *settings.report_path)) {
    console << "can't write report file " << *settings.report_path;
    console.end_line();
    exit_code = kExitReportUnwritable;
  }
  return exit_code;
}

}  // namespace

int run(const Arguments& arguments, std::ostream& out, std::ostream& err, Clock& clock,
        FileSystem& files, const HostCapacity& capacity) {
  Console console(out);
  const int exit_code = run_with_console(arguments, console, clock, files, capacity);
  if (!console.failed()) return exit_code;
  // The console is the run's only account of itself: losing it must not pass for success.
  err << "tarnel: can't write standard output: " << std::strerror(console.error()) << '\n';
  err.flush();
  return std::max(exit_code, kExitConsoleUnwritable);
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
  if (!performance::kMallopt) return;
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
  return run(arguments, std::cout, std::cerr, clock, files, measure_host_capacity());
}

}  // namespace tarnel
