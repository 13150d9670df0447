#include "species/species_flow.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "base/background_thread.h"
#include "base/performance_switches.h"
#include "species/copy_elimination.h"
#include "species/fasta_reader.h"
#include "species/memory_prefetch.h"
#include "species/output_buffer.h"
#include "species/output_writers.h"
#include "species/protein_ordering.h"

namespace tarnel {
namespace {

constexpr std::size_t kHeadingColumns = 36;

// From this many records on, a second thread pays for itself within a species, while a
// processor is free for it.
constexpr std::size_t kRecordsWorthAHelper = std::size_t{1} << 16;

bool processor_to_spare(const SpeciesContext& context) {
  return context.idle_threads == nullptr || context.idle_threads->load() > 0;
}

// Once ordered, the records and their texts are visited in scattered order, and each protein
// began with a wait for memory: a fifth of the time of a large species. Asking for a record a
// few proteins ahead, and for its texts once it has arrived, lets those waits overlap with the
// writing.
constexpr std::size_t kLookahead = 8;

void ask_for_texts(const ProteinRecord& protein) {
  // An identifier is stored just before its sequence, so this also starts the sequence.
  ask_for(protein.identifier.data());
  ask_for(protein.sequence.data());
}

// One kind of output file of a species: where it goes and what its messages call it.
struct OutputKind {
  std::string_view noun;  // as in "can't create <noun> file "
  const std::string SpeciesSettings::*directory;
  const std::string SpeciesSettings::*extension;
};

constexpr OutputKind kDuplicatesKind{"duplicate", &SpeciesSettings::duplicates_path,
                                     &SpeciesSettings::duplicates_extension};
constexpr OutputKind kStatusKind{"status", &SpeciesSettings::status_path,
                                 &SpeciesSettings::status_extension};
constexpr OutputKind kFastaKind{"output FASTA", &SpeciesSettings::output_path,
                                &SpeciesSettings::output_extension};

std::string path_of(const SpeciesSettings& settings, const OutputKind& kind,
                    std::string_view species_name) {
  std::string path = settings.*kind.directory;
  path.append(species_name).append(settings.*kind.extension);
  return path;
}

// An output file being staged: the temporary and the buffer in front of it.
struct StagedOutput {
  const OutputKind& kind;
  std::string path;
  std::unique_ptr<StagedFile> file;
  std::optional<OutputBuffer> buffer;
};

// Ends the species' line with a "can't ..." message about one of its files; `error` is the
// system's code, saved before anything else could change it.
void report(Console& console, SpeciesOutcome& outcome, std::string_view what,
            const StagedOutput& output, int error) {
  const std::size_t start = console.line_length();
  console << "can't " << what << ' ' << output.kind.noun << " file " << output.path;
  console.end_line();
  outcome.message = console.last_line().substr(start);
  outcome.error = error;
  if (error != 0) outcome.reason = std::strerror(error);
}

// Everything but the heading and the failure for want of memory, which the caller handles.
void process_read_species(const SpeciesContext& context, std::int32_t species_index,
                          const std::string& mask, std::int64_t species_start_clock,
                          SpeciesOutcome& outcome, InputUse& input);

}  // namespace

std::vector<std::string> output_paths(const SpeciesSettings& settings,
                                      std::string_view species_name) {
  std::vector<std::string> paths;
  if (settings.copy_mode == 1) paths.push_back(path_of(settings, kDuplicatesKind, species_name));
  if (settings.status_mode == 1) paths.push_back(path_of(settings, kStatusKind, species_name));
  if (settings.write_mode == 1) paths.push_back(path_of(settings, kFastaKind, species_name));
  return paths;
}

std::string species_heading(std::string_view name) {
  std::string heading(name);
  heading.append("...");
  if (heading.size() < kHeadingColumns) heading.append(kHeadingColumns - heading.size(), ' ');
  return heading;
}

SpeciesOutcome process_species(const SpeciesContext& context, std::int32_t species_index,
                               const std::string& mask, std::int64_t species_start_clock) {
  Console& console = context.console;
  const auto index = static_cast<std::size_t>(species_index);
  console << species_heading(context.names[index]);
  console.flush();  // the heading shows while a large species is read

  SpeciesOutcome outcome;
  outcome.fasta_path = context.settings.input_path + context.file_names[index];
  InputUse input;  // out here, so that a species that runs out of memory still tells it
  try {
    process_read_species(context, species_index, mask, species_start_clock, outcome, input);
  } catch (const std::bad_alloc&) {
    // Whatever the species held is given back as the exception leaves it, and its
    // temporaries go with their staged files: the run can go on with the next species.
    const std::size_t start = console.line_length();
    console << "not enough memory for input file " << outcome.fasta_path;
    console.end_line();
    outcome.ok = false;
    outcome.message = console.last_line().substr(start);
    outcome.error = ENOMEM;
    outcome.reason = std::strerror(ENOMEM);
  }
  outcome.bytes_read = input.bytes_read;
  return outcome;
}

namespace {

void process_read_species(const SpeciesContext& context, std::int32_t species_index,
                          const std::string& mask, std::int64_t species_start_clock,
                          SpeciesOutcome& outcome, InputUse& input) {
  const SpeciesSettings& settings = context.settings;
  Console& console = context.console;
  const auto index = static_cast<std::size_t>(species_index);
  const std::string& species_name = context.names[index];
  const std::string& file_name = context.file_names[index];

  ProteinSet proteins;
  const std::size_t read_start = console.line_length();
  const bool complete =
      read_fasta(context.files, console, settings.input_path, file_name, proteins, &input);
  if (!complete) {
    outcome.message = console.last_line().substr(read_start);
    outcome.error = input.error;
    if (input.error != 0) outcome.reason = std::strerror(input.error);
    return;
  }
  const bool drop_copies = settings.copy_mode == 1;
  // The records stay where they are; they are visited in this order.
  std::vector<std::int32_t> order;
  const auto find_order = [&] {
    if (settings.ordering != 0) order = written_order(proteins, settings.ordering);
  };
  {
    // A large species is ordered on another thread while its copies are looked for: both
    // read the texts, and neither writes what the other reads.
    std::optional<BackgroundTask> ordering;
    if (performance::kOrderBeside && drop_copies && proteins.size() >= kRecordsWorthAHelper &&
        processor_to_spare(context)) {
      ordering.emplace(find_order);
    }
    if (drop_copies) outcome.statistics = eliminate_copies(proteins, console);
    if (ordering) {
      ordering->wait();
    } else {
      find_order();
    }
  }

  // Created in this order, each only when its mode asks for it. All are written aside and take
  // their final names together, once every one of them is complete.
  std::optional<StagedOutput> duplicates;
  std::optional<StagedOutput> status;
  std::optional<StagedOutput> fasta;
  const auto stage = [&](std::optional<StagedOutput>& slot, const OutputKind& kind) {
    slot.emplace(StagedOutput{kind, path_of(settings, kind, species_name), nullptr, std::nullopt});
    errno = 0;
    slot->file = context.files.stage(slot->path);
    if (slot->file == nullptr) {
      report(console, outcome, "create", *slot, errno);
      return false;
    }
    slot->buffer.emplace(*slot->file, context.idle_threads);
    return true;
  };
  if (drop_copies && !stage(duplicates, kDuplicatesKind)) return;
  if (settings.status_mode == 1 && !stage(status, kStatusKind)) return;
  if (settings.write_mode == 1 && !stage(fasta, kFastaKind)) return;

  const std::string status_mask = build_status_mask(mask, species_index);
  const std::vector<ProteinRecord>& records = proteins.records;
  // Writes the proteins in order to the buffers given; counts those written.
  const auto write_records = [&](OutputBuffer* fasta_buffer, OutputBuffer* status_buffer,
                                 OutputBuffer* duplicates_buffer) {
    std::int64_t count_written = 0;
    const std::size_t count = records.size();
    const auto written_at = [&order](std::size_t i) {
      return order.empty() ? i : static_cast<std::size_t>(order[i]);
    };
    for (std::size_t i = 0; i < count; ++i) {
      if (i + 2 * kLookahead < count) ask_for(&records[written_at(i + 2 * kLookahead)]);
      if (fasta_buffer && i + kLookahead < count) {
        ask_for_texts(records[written_at(i + kLookahead)]);
      }
      const ProteinRecord& protein = records[written_at(i)];
      if (drop_copies && protein.is_copy) continue;
      if (fasta_buffer) {
        write_fasta_entry(*fasta_buffer, protein);
        ++count_written;
      }
      if (status_buffer) write_status_line(*status_buffer, protein, status_mask);
      if (duplicates_buffer && !protein.copies.empty()) {
        write_duplicates_line(*duplicates_buffer, protein, proteins);
      }
    }
    return count_written;
  };
  const auto buffer_of = [](std::optional<StagedOutput>& output) {
    return output ? &*output->buffer : nullptr;
  };
  std::int64_t written = 0;
  if (performance::kFormatBeside && fasta && (status || duplicates) &&
      records.size() >= kRecordsWorthAHelper && processor_to_spare(context)) {
    // The FASTA file is formatted here, the others beside it.
    BackgroundTask others(
        [&] { write_records(nullptr, buffer_of(status), buffer_of(duplicates)); });
    written = write_records(buffer_of(fasta), nullptr, nullptr);
    others.wait();
  } else {
    written = write_records(buffer_of(fasta), buffer_of(status), buffer_of(duplicates));
  }

  for (std::optional<StagedOutput>* output : {&status, &duplicates, &fasta}) {
    errno = 0;
    if (*output && !(*output)->buffer->finish()) {
      report(console, outcome, "write", **output, errno);
      return;
    }
  }
  // All of them or none: a species is never left half old and half new.
  StagedFile* finished[3];
  const StagedOutput* finished_outputs[3];
  std::size_t finished_count = 0;
  for (std::optional<StagedOutput>* output : {&duplicates, &status, &fasta}) {
    if (*output) {
      finished[finished_count] = (*output)->file.get();
      finished_outputs[finished_count++] = &**output;
    }
  }
  errno = 0;
  const std::size_t unpublished = context.files.publish({finished, finished_count});
  if (unpublished < finished_count) {
    report(console, outcome, "create", *finished_outputs[unpublished], errno);
    return;
  }

  if (fasta) {
    console.right(written, 6);
    console << " of ";
    console.right(static_cast<std::int64_t>(proteins.size()), 6);
    console << " proteins written in ";
  }
  const std::int64_t end_clock = context.clock.now_millis();
  console.right((end_clock - species_start_clock) / 1000, 3);
  console << 's';
  console.end_line();
  outcome.ok = true;
  outcome.end_clock = end_clock;
  if (fasta) outcome.written = written;
}

}  // namespace

}  // namespace tarnel
