// One species from arbitrary FASTA bytes to its three output files, all in memory.
//
// Each stage is checked against a model that shares no code with it: the reader against a
// whole-file reading of the format, copy finding against an ordered map of first occurrences,
// ordering against the comparison written over std::string_view, and the writers by parsing
// back what they wrote. Then the species flow runs on the same bytes and must print the same
// console line and publish exactly what the stages produced.
//
// Input: byte 0 picks the read block size, byte 1 the length that the first 0x7f byte is
// stretched to (a run of 'M', to reach the line limit), byte 2 the copy mode, the ordering and
// the species' place in the lists; the rest is the FASTA file.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "fuzz/fuzz_support.h"
#include "run/run_settings.h"
#include "run/species_list.h"
#include "species/copy_elimination.h"
#include "species/fasta_reader.h"
#include "species/introspective_sort.h"
#include "species/output_buffer.h"
#include "species/output_writers.h"
#include "species/protein.h"
#include "species/protein_ordering.h"
#include "species/species_flow.h"

namespace tarnel::fuzz {
namespace {

struct ModelRecord {
  std::string_view identifier;
  std::string sequence;
  std::uint64_t offset = 0;
  std::int64_t line = 0;
};

struct ModelFasta {
  bool ok = true;
  std::string console;
  std::vector<ModelRecord> records;
};

ModelFasta model_fasta(std::string_view bytes) {
  ModelFasta model;
  WholeFileLines lines(bytes);
  ModelRecord pending;
  std::int64_t n = 0;
  const auto fail = [&model](std::string_view message, std::int64_t number) {
    model.ok = false;
    model.console.append(message).append(std::to_string(number)).push_back('\n');
    return model;
  };
  for (;;) {
    const std::size_t position = lines.position();
    const WholeFileLines::Read read = lines.read();
    if (read.failed && !read.bytes.empty() && read.bytes[0] != '\0') {
      return fail("failed at line ", n + 1);
    }
    ++n;
    std::string_view text = WholeFileLines::text(read.bytes);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.empty()) {
      if (!lines.end()) return fail("empty line ", n);
      if (!pending.sequence.empty()) model.records.push_back(pending);
      return model;
    }
    if (text[0] == '>') {
      if (!pending.sequence.empty()) {
        model.records.push_back(pending);
        pending.sequence.clear();
      } else if (!pending.identifier.empty()) {
        return fail("no sequence at line ", n);
      }
      const std::string_view after = text.substr(1);
      pending.identifier = after.substr(0, after.find_first_of(std::string_view(" |\t\n\r", 5)));
      pending.offset = position;
      pending.line = n;
    } else {
      pending.sequence.append(text.substr(0, text.find_first_of("\n\r")));
    }
    if (lines.end()) {
      if (!pending.identifier.empty() && !pending.sequence.empty()) {
        model.records.push_back(pending);
      }
      return model;
    }
  }
}

// The order of the written proteins, from its definition. std::string_view compares bytes as
// unsigned values, a prefix first.
bool model_before(const ProteinRecord& a, const ProteinRecord& b, std::int32_t ordering) {
  if (ordering == 2) return a.identifier < b.identifier;
  if (a.sequence.size() != b.sequence.size()) {
    return ordering == -1 ? a.sequence.size() > b.sequence.size()
                          : a.sequence.size() < b.sequence.size();
  }
  if (a.sequence != b.sequence) return a.sequence < b.sequence;
  return a.identifier < b.identifier;
}

// Copies lists as an ordered map of first occurrences gives them, by input position.
std::vector<std::vector<std::int32_t>> model_copies(const std::vector<ProteinRecord>& records) {
  std::vector<std::vector<std::int32_t>> copies(records.size());
  std::map<std::string_view, std::size_t> first;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto [found, inserted] = first.try_emplace(records[i].sequence, i);
    if (!inserted) copies[found->second].push_back(static_cast<std::int32_t>(i));
  }
  return copies;
}

void check_copies(const ProteinSet& proteins, const CopyStatistics& statistics,
                  const std::vector<std::vector<std::int32_t>>& expected) {
  std::int32_t copy_count = 0;
  std::int32_t group_count = 0;
  std::int32_t max_copies = 0;
  std::vector<bool> is_copy(proteins.size(), false);
  for (const auto& list : expected) {
    for (const std::int32_t c : list) is_copy[static_cast<std::size_t>(c)] = true;
  }
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    TARNEL_FUZZ_CHECK(proteins[i].copies == expected[i]);
    TARNEL_FUZZ_CHECK(proteins[i].is_copy == is_copy[i]);
    copy_count += proteins[i].is_copy ? 1 : 0;
    group_count += proteins[i].copies.empty() ? 0 : 1;
    max_copies = std::max(max_copies, static_cast<std::int32_t>(proteins[i].copies.size()));
  }
  TARNEL_FUZZ_CHECK(statistics.proteins == proteins.size());
  TARNEL_FUZZ_CHECK(statistics.copy_count == copy_count);
  TARNEL_FUZZ_CHECK(statistics.group_count == group_count);
  TARNEL_FUZZ_CHECK(statistics.max_copies == max_copies);
}

// Ordering 0 stands for no ordering: the records must still be in input order.
void check_order(const ProteinSet& proteins, const std::vector<ProteinRecord>& before_order,
                 std::int32_t ordering, const std::vector<std::vector<std::int32_t>>& copies) {
  const std::size_t n = proteins.size();
  TARNEL_FUZZ_CHECK(n == before_order.size());
  std::vector<bool> seen(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    const ProteinRecord& record = proteins[i];
    TARNEL_FUZZ_CHECK(record.ordinal >= 0 && static_cast<std::size_t>(record.ordinal) < n);
    const auto ordinal = static_cast<std::size_t>(record.ordinal);
    TARNEL_FUZZ_CHECK(!seen[ordinal]);
    seen[ordinal] = true;
    // Records move whole.
    const ProteinRecord& before = before_order[ordinal];
    TARNEL_FUZZ_CHECK(record.identifier.data() == before.identifier.data());
    TARNEL_FUZZ_CHECK(record.sequence.data() == before.sequence.data());
    TARNEL_FUZZ_CHECK(record.offset == before.offset && record.line == before.line);
    TARNEL_FUZZ_CHECK(record.is_copy == before.is_copy);
    if (ordering == 0) {
      TARNEL_FUZZ_CHECK(ordinal == i);
    } else if (i + 1 < n) {
      const ProteinRecord& next = proteins[i + 1];
      TARNEL_FUZZ_CHECK(!model_before(next, record, ordering));
      // Small sets are finished by insertion sort alone, which keeps equal records in order.
      if (n <= 32 && !model_before(record, next, ordering)) {
        TARNEL_FUZZ_CHECK(record.ordinal < next.ordinal);
      }
    }
    // Each copies list names the same copies as before, in the same order.
    TARNEL_FUZZ_CHECK(record.copies.size() == copies[ordinal].size());
    for (std::size_t k = 0; k < record.copies.size(); ++k) {
      const std::int32_t position = record.copies[k];
      TARNEL_FUZZ_CHECK(position >= 0 && static_cast<std::size_t>(position) < n);
      TARNEL_FUZZ_CHECK(proteins[static_cast<std::size_t>(position)].ordinal == copies[ordinal][k]);
    }
  }
}

struct Outputs {
  std::string fasta;
  std::string status;
  std::string duplicates;
};

// Writes the three files as the species flow does, straight through the writers.
Outputs write_outputs(const ProteinSet& proteins, bool drop_copies, std::string_view mask) {
  StringStagedFile fasta_file;
  StringStagedFile status_file;
  StringStagedFile duplicates_file;
  OutputBuffer fasta(fasta_file);
  OutputBuffer status(status_file);
  OutputBuffer duplicates(duplicates_file);
  for (const ProteinRecord& protein : proteins.records) {
    if (drop_copies && protein.is_copy) continue;
    write_fasta_entry(fasta, protein);
    write_status_line(status, protein, mask);
    if (drop_copies && !protein.copies.empty())
      write_duplicates_line(duplicates, protein, proteins);
  }
  TARNEL_FUZZ_CHECK(fasta.finish() && status.finish() && duplicates.finish());
  return {fasta_file.bytes(), status_file.bytes(), duplicates_file.bytes()};
}

// Takes the next line of `text` from `at`; false when no line end follows.
bool next_line(std::string_view text, std::size_t& at, std::string_view& line) {
  const std::size_t lf = text.find('\n', at);
  if (lf == std::string_view::npos) return false;
  line = text.substr(at, lf - at);
  at = lf + 1;
  return true;
}

// Reads back a right-aligned decimal field of at least `width` columns and the blank after it.
std::int64_t take_field(std::string_view line, std::size_t& at, std::size_t width) {
  const std::size_t begin = at;
  while (at < line.size() && line[at] == ' ') ++at;
  std::int64_t value = 0;
  const std::size_t digits_begin = at;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9')
    value = value * 10 + (line[at++] - '0');
  TARNEL_FUZZ_CHECK(at > digits_begin);
  TARNEL_FUZZ_CHECK(at - begin == std::max(width, at - digits_begin));
  TARNEL_FUZZ_CHECK(at < line.size() && line[at] == ' ');
  ++at;
  return value;
}

void check_outputs(const ProteinSet& proteins, bool drop_copies, std::string_view mask,
                   const Outputs& out) {
  std::size_t fasta_at = 0;
  std::size_t status_at = 0;
  std::size_t duplicates_at = 0;
  std::multiset<std::string_view> written;
  std::set<std::string_view> distinct;
  for (const ProteinRecord& protein : proteins.records) {
    distinct.insert(protein.sequence);
    if (drop_copies && protein.is_copy) continue;
    written.insert(protein.sequence);

    std::string_view line;
    TARNEL_FUZZ_CHECK(next_line(out.fasta, fasta_at, line));
    TARNEL_FUZZ_CHECK(line.size() == protein.identifier.size() + 1 && line[0] == '>');
    TARNEL_FUZZ_CHECK(line.substr(1) == protein.identifier);
    std::string sequence;
    while (sequence.size() < protein.sequence.size()) {
      TARNEL_FUZZ_CHECK(next_line(out.fasta, fasta_at, line));
      TARNEL_FUZZ_CHECK(!line.empty() && line.size() <= kResiduesPerLine);
      sequence.append(line);
      TARNEL_FUZZ_CHECK(line.size() == kResiduesPerLine ||
                        sequence.size() == protein.sequence.size());
    }
    TARNEL_FUZZ_CHECK(sequence == protein.sequence);

    TARNEL_FUZZ_CHECK(next_line(out.status, status_at, line));
    std::size_t at = 0;
    TARNEL_FUZZ_CHECK(take_field(line, at, 7) == protein.line);
    TARNEL_FUZZ_CHECK(take_field(line, at, 6) == protein.ordinal);
    TARNEL_FUZZ_CHECK(take_field(line, at, 5) ==
                      static_cast<std::int64_t>(protein.sequence.size()));
    TARNEL_FUZZ_CHECK(line.substr(at) == mask);

    if (!drop_copies || protein.copies.empty()) continue;
    TARNEL_FUZZ_CHECK(next_line(out.duplicates, duplicates_at, line));
    const std::string count = std::to_string(protein.copies.size());
    TARNEL_FUZZ_CHECK(line.substr(0, protein.identifier.size()) == protein.identifier);
    at = protein.identifier.size();
    TARNEL_FUZZ_CHECK(line.substr(at, count.size() + 1) == "\t" + count);
    at += count.size() + 1;
    for (const std::int32_t position : protein.copies) {
      const ProteinRecord& copy = proteins[static_cast<std::size_t>(position)];
      TARNEL_FUZZ_CHECK(copy.is_copy && copy.sequence == protein.sequence);
      TARNEL_FUZZ_CHECK(line.substr(at, copy.identifier.size() + 1) ==
                        "\t" + std::string(copy.identifier));
      at += copy.identifier.size() + 1;
    }
    TARNEL_FUZZ_CHECK(at == line.size());
  }
  TARNEL_FUZZ_CHECK(fasta_at == out.fasta.size());
  TARNEL_FUZZ_CHECK(status_at == out.status.size());
  TARNEL_FUZZ_CHECK(duplicates_at == out.duplicates.size());
  if (drop_copies) {
    // Every sequence once, copies never.
    TARNEL_FUZZ_CHECK(written.size() == distinct.size());
    for (const std::string_view s : distinct) TARNEL_FUZZ_CHECK(written.count(s) == 1);
  } else {
    TARNEL_FUZZ_CHECK(written.size() == proteins.size());
  }
}

class ZeroClock final : public Clock {
 public:
  std::int64_t now_millis() override { return 0; }
};

// The settings one input is run with, and the species' place in the lists.
struct Choice {
  RunSettings settings;
  SpeciesList master;
  ActivationMask mask;
  std::int32_t index = 0;

  explicit Choice(std::uint8_t byte) {
    static constexpr std::int32_t kOrderings[] = {
        0, -1, 1, 2, 3, -2, 7, std::numeric_limits<std::int32_t>::min()};
    settings.ordering = kOrderings[byte % 8];
    settings.copy_mode = (byte & 8) != 0 ? 0 : 1;
    settings.write_mode = 1;
    normalise_settings(settings);
    const int species_count = 1 + ((byte >> 4) & 3);
    index = (byte >> 6) % species_count;
    for (int k = 0; k < species_count; ++k) master.add("sp" + std::to_string(k), "in.fa");
    mask.assign(static_cast<std::size_t>(species_count), ' ');
    for (std::size_t k = 0; k < mask.size(); k += 2) mask[k] = '.';
  }
  const std::string& name() const { return master.names[static_cast<std::size_t>(index)]; }
};

std::string right_aligned(std::size_t value, std::size_t width) {
  const std::string digits = std::to_string(value);
  return std::string(digits.size() < width ? width - digits.size() : 0, ' ') + digits;
}

int fuzz_one(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string fasta =
      with_long_run({reinterpret_cast<const char*>(data) + 3, size - 3}, data[1], 'M');
  // Text that opens with the gzip signature is decompressed on its way to the reader, which
  // the plain-text models here do not describe; the compressed path has tests of its own.
  if (fasta.size() >= 2 && fasta[0] == '\x1f' && fasta[1] == '\x8b') return 0;
  const std::size_t block_bytes = block_bytes_for(data[0], fasta.size());
  const Choice choice(data[2]);
  const RunSettings& settings = choice.settings;
  const bool drop_copies = settings.copy_mode == 1;

  // The species through the stages one by one, each checked against its model.
  const ModelFasta model = model_fasta(fasta);
  ProteinSet proteins;
  SpanSource source(fasta, block_bytes);
  std::ostringstream reader_text;
  Console reader_console(reader_text);
  const bool ok = read_fasta(source, reader_console, proteins);
  TARNEL_FUZZ_CHECK(ok == model.ok);
  TARNEL_FUZZ_CHECK(reader_text.str() == model.console);
  std::string heading = choice.name() + "...";
  heading.resize(36, ' ');
  std::string expected_line = heading;
  Outputs expected;
  if (ok) {
    TARNEL_FUZZ_CHECK(proteins.size() == model.records.size());
    for (std::size_t i = 0; i < proteins.size(); ++i) {
      const ProteinRecord& record = proteins[i];
      const ModelRecord& wanted = model.records[i];
      TARNEL_FUZZ_CHECK(record.identifier == wanted.identifier);
      TARNEL_FUZZ_CHECK(record.sequence == wanted.sequence);
      TARNEL_FUZZ_CHECK(record.offset == wanted.offset);
      TARNEL_FUZZ_CHECK(record.line == wanted.line);
      TARNEL_FUZZ_CHECK(record.ordinal == static_cast<std::int32_t>(i));
      TARNEL_FUZZ_CHECK(record.copies.empty() && !record.is_copy);
    }
    std::vector<std::vector<std::int32_t>> copies(proteins.size());
    if (drop_copies) {
      copies = model_copies(proteins.records);
      const CopyStatistics statistics = find_copies(proteins);
      check_copies(proteins, statistics, copies);
      std::ostringstream statistics_text;
      Console statistics_console(statistics_text);
      print_copy_statistics(statistics_console, statistics);
      statistics_console.flush();
      expected_line += statistics_text.str();
    }
    const std::vector<ProteinRecord> before_order = proteins.records;
    if (settings.ordering != 0) {
      order_proteins(proteins, settings.ordering, settings.copy_mode);
    }
    check_order(proteins, before_order, settings.ordering, copies);

    // Real proteomes almost never exhaust the division budget; a small one sends these
    // records through the heap sort that bounds the worst case.
    if (settings.ordering != 0) {
      std::vector<std::int32_t> order(proteins.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i);
      const auto before = [&proteins, &settings](std::int32_t a, std::int32_t b) {
        return compare_proteins(proteins[static_cast<std::size_t>(a)],
                                proteins[static_cast<std::size_t>(b)], settings.ordering);
      };
      auto less = before;
      introspective_sort::sort_within_budget(order.begin(), order.end(), data[0] % 3, less);
      std::vector<bool> seen(order.size(), false);
      for (std::size_t i = 0; i < order.size(); ++i) {
        const auto k = static_cast<std::size_t>(order[i]);
        TARNEL_FUZZ_CHECK(k < order.size() && !seen[k]);
        seen[k] = true;
        if (i > 0) {
          TARNEL_FUZZ_CHECK(!model_before(
              proteins[k], proteins[static_cast<std::size_t>(order[i - 1])], settings.ordering));
        }
      }
    }

    const std::string status_mask = build_status_mask(choice.mask, choice.index);
    TARNEL_FUZZ_CHECK(status_mask.size() == choice.mask.size());
    TARNEL_FUZZ_CHECK(status_mask == (choice.mask[static_cast<std::size_t>(choice.index)] == '.'
                                          ? std::string(choice.mask.size(), '.')
                                          : choice.mask));
    expected = write_outputs(proteins, drop_copies, status_mask);
    check_outputs(proteins, drop_copies, status_mask, expected);
    std::size_t written = 0;
    for (const ProteinRecord& protein : proteins.records) {
      written += (drop_copies && protein.is_copy) ? 0 : 1;
    }
    expected_line += right_aligned(written, 6) + " of " + right_aligned(proteins.size(), 6) +
                     " proteins written in   0s\n";
  } else {
    expected_line += model.console;
  }

  // The species flow over the same bytes: the same console line and the same files, or no file
  // at all when the species fails.
  MapFileSystem files;
  files.block_bytes = block_bytes;
  const std::string input_path = settings.input_path + "in.fa";
  files.files[input_path] = fasta;
  std::ostringstream flow_text;
  Console flow_console(flow_text);
  ZeroClock clock;
  const SpeciesContext context{
      settings, choice.master.names, choice.master.file_names, flow_console, files, clock};
  TARNEL_FUZZ_CHECK(process_species(context, choice.index, choice.mask, 0).ok == ok);
  TARNEL_FUZZ_CHECK(flow_text.str() == expected_line);
  files.files.erase(input_path);
  if (!ok) {
    TARNEL_FUZZ_CHECK(files.files.empty());
    return 0;
  }
  const std::string& name = choice.name();
  TARNEL_FUZZ_CHECK(files.files[settings.output_path + name + settings.output_extension] ==
                    expected.fasta);
  TARNEL_FUZZ_CHECK(files.files[settings.status_path + name + settings.status_extension] ==
                    expected.status);
  const std::string duplicates_path =
      settings.duplicates_path + name + settings.duplicates_extension;
  if (drop_copies) {
    TARNEL_FUZZ_CHECK(files.files[duplicates_path] == expected.duplicates);
  } else {
    TARNEL_FUZZ_CHECK(files.files.count(duplicates_path) == 0);
  }
  return 0;
}

}  // namespace
}  // namespace tarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tarnel::fuzz::fuzz_one(data, size);
}
