// The machine-readable account of a run (--report): one tab-separated row per species processed,
// for workflow managers and scripts that must not parse the console.
#ifndef TARNEL_RUN_RUN_REPORT_H_
#define TARNEL_RUN_RUN_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_system.h"
#include "species/species_flow.h"

namespace tarnel {

class RunReport {
 public:
  RunReport();

  /// Adds the row of a species; `elapsed_millis` is the time its console line covers.
  void add(std::string_view species, const SpeciesOutcome& outcome, std::int64_t elapsed_millis);

  /// Stages the report and publishes it whole; false when it cannot be written.
  bool write(FileSystem& files, const std::string& path) const;

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace tarnel

#endif  // TARNEL_RUN_RUN_REPORT_H_
