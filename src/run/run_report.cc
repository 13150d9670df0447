#include "run/run_report.h"

#include <memory>

#include "base/text_format.h"

namespace tarnel {
namespace {

constexpr std::string_view kHeader =
    "species\tfasta_file\tstatus\tmessage\treason\tproteins\tcopies\tlargest_group\tgroups\t"
    "written\tseconds\tbytes_read\n";

// A field never holds the characters that delimit rows and fields; a backslash is escaped too,
// so that every field reads back exactly.
void append_field(std::string& row, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\t':
        row.append("\\t");
        break;
      case '\r':
        row.append("\\r");
        break;
      case '\n':
        row.append("\\n");
        break;
      case '\\':
        row.append("\\\\");
        break;
      default:
        row.push_back(c);
    }
  }
}

template <typename Number>
void append_number(std::string& row, Number number) {
  row.append(DecimalText(number).view());
}

// Seconds with their milliseconds, as "12.345".
void append_seconds(std::string& row, std::int64_t millis) {
  if (millis < 0) millis = 0;
  row.append(DecimalText(millis / 1000).view());
  const auto fraction = static_cast<int>(millis % 1000);
  row.push_back('.');
  row.push_back(static_cast<char>('0' + fraction / 100));
  row.push_back(static_cast<char>('0' + fraction / 10 % 10));
  row.push_back(static_cast<char>('0' + fraction % 10));
}

}  // namespace

RunReport::RunReport() : text_(kHeader) {}

void RunReport::add(std::string_view species, const SpeciesOutcome& outcome,
                    std::int64_t elapsed_millis) {
  const auto& statistics = outcome.statistics;
  append_field(text_, species);
  text_.push_back('\t');
  append_field(text_, outcome.fasta_path);
  text_.append(outcome.ok ? "\tok\t" : "\terror\t");
  append_field(text_, outcome.message);
  text_.push_back('\t');
  append_field(text_, outcome.reason);
  text_.push_back('\t');
  if (statistics) {
    append_number(text_, statistics->proteins);
    text_.push_back('\t');
    append_number(text_, std::int64_t{statistics->copy_count});
    text_.push_back('\t');
    append_number(text_, std::int64_t{statistics->max_copies});
    text_.push_back('\t');
    append_number(text_, std::int64_t{statistics->group_count});
  } else {
    text_.append("\t\t\t");
  }
  text_.push_back('\t');
  if (outcome.written) append_number(text_, *outcome.written);
  text_.push_back('\t');
  append_seconds(text_, elapsed_millis);
  text_.push_back('\t');
  append_number(text_, outcome.bytes_read);
  text_.push_back('\n');
}

bool RunReport::write(FileSystem& files, const std::string& path) const {
  const std::unique_ptr<StagedFile> file = files.stage(path);
  if (file == nullptr || !file->write(text_) || !file->finish()) return false;
  StagedFile* const staged[] = {file.get()};
  return files.publish(staged) == 1;
}

}  // namespace tarnel
